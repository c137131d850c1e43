#pragma once
// A cipher code, key material (the UTF-8 password bytes) and a 16-byte salt, bound together to
// turn a buffer into a new encrypted or decrypted buffer. An empty key means "no encryption":
// every operation then copies, whatever the type. Once keyed, the context can forget the key and
// go on with what the cipher made of it (forgetKey), so that no copy of the password stays.
#include <cstdint>
#include <memory>
#include <optional>

#include "base/Bytes.h"
#include "crypto/CipherType.h"

namespace sorvel {

class CipherContext {
 public:
  CipherContext();
  ~CipherContext();  // wipes key, salt and every keyed state
  CipherContext(const CipherContext&) = delete;
  CipherContext& operator=(const CipherContext&) = delete;

  std::int32_t type() const { return type_; }
  // True when a non-empty key was set, also after forgetKey.
  bool hasKey() const { return hasKey_; }
  const Bytes& salt() const { return salt_; }
  void setType(std::int32_t type);
  void setKey(const Bytes& key);
  void setSalt(const std::uint8_t* salt, std::size_t length);
  // Makes the cipher's key schedule from type, key and salt now and wipes the key: every
  // operation gives the same bytes as before. Setting the type or salt afterwards leaves the
  // context without a key.
  void forgetKey();

  // The stored form and its inverse. The program itself only decrypts: encrypt serves the test
  // archive builder (tests/support/ArchiveSealer), which seals archives as stored. The result is as long as the cipher
  // makes it (a multiple of 4096 for AesCfb, of 8 for Blowfish, `length` otherwise), zero beyond the data; nothing when
  // the operation yields nothing (empty key with length 0, a type without a cipher, AesXts with block number 0, a
  // cipher failure).
  std::optional<Bytes> encrypt(const std::uint8_t* data, std::size_t length, std::uint32_t blockNumber) const;
  std::optional<Bytes> decrypt(const std::uint8_t* data, std::size_t length, std::uint32_t blockNumber) const;

  // The same decryption into a caller's buffer of `length` bytes, for storage blocks, whose length
  // (16384) every cipher keeps. False where decrypt yields nothing. Safe to call from several
  // threads at once on one context.
  bool decryptInto(const std::uint8_t* data, std::uint8_t* out, std::size_t length, std::uint32_t blockNumber) const;

 private:
  struct KeyedState;
  const KeyedState& keyedState() const;
  void dropKeyedState();

  std::int32_t type_ = 0;
  Bytes key_;
  bool hasKey_ = false;
  Bytes salt_;
  mutable std::unique_ptr<KeyedState> keyed_;
};

}  // namespace sorvel
