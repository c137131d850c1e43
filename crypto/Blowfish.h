#pragma once
// The archive's own Blowfish: the published 16-round cipher with its pi tables, but keyed the way
// the stored key blocks and storage blocks were written: the key is always 8 bytes (cut or
// zero-padded), the key schedule takes key bytes as signed values, and a block's two 32-bit
// halves sit little-endian in memory. Buffers are ECB, a partial last block zero-padded.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/Bytes.h"
#include "crypto/BlowfishTables.h"
#include "crypto/WideBlowfish.h"

namespace sorvel {

class BlowfishState {
 public:
  static constexpr std::size_t kKeyLength = 8;
  static constexpr std::size_t kBlockSize = 8;

  BlowfishState() = default;  // every P and S word zero until setKey
  ~BlowfishState();           // wipes P and S
  BlowfishState(const BlowfishState&) = delete;
  BlowfishState& operator=(const BlowfishState&) = delete;

  // Runs the key schedule on the first 8 bytes of `key`, zero-padded. Always true.
  bool setKey(const Bytes& key);

  void encryptBlock(std::uint32_t& left, std::uint32_t& right) const;
  void decryptBlock(std::uint32_t& left, std::uint32_t& right) const;

  // encryptBuffer serves the test archive builder only (through CipherContext::encrypt).
  // A new buffer of `length` rounded up to a multiple of 8 holding the transformed blocks; the
  // partial last block is zero-padded before it is transformed. Nothing when `length` is 0.
  std::optional<Bytes> encryptBuffer(const std::uint8_t* data, std::size_t length) const;
  std::optional<Bytes> decryptBuffer(const std::uint8_t* data, std::size_t length) const;

  // Decrypts into `out`, writing exactly `length` bytes: the first bytes of decryptBuffer's
  // result. `out` may be `data`.
  void decryptInto(const std::uint8_t* data, std::uint8_t* out, std::size_t length) const;

  // Zeroes P and S (and their planes), leaving an unkeyed state.
  void wipe();

 private:
  static constexpr std::size_t kRounds = 16;
  enum class Direction { Encrypt, Decrypt };

  std::uint32_t round(std::uint32_t x) const;
  template <Direction kDirection>
  void transformBlock(std::uint32_t& left, std::uint32_t& right) const;
  template <Direction kDirection>
  std::optional<Bytes> transformBuffer(const std::uint8_t* data, std::size_t length) const;
  // Transforms every 8-byte block of `buffer` in place; `length` is a multiple of 8.
  template <Direction kDirection>
  void transformBlocks(std::uint8_t* buffer, std::size_t length) const;
  template <Direction kDirection, std::size_t kLanes>
  void transformLanes(std::uint8_t* blocks) const;
  void keyMixing(const std::array<std::uint8_t, kKeyLength>& key);

  std::array<std::uint32_t, kBlowfishPWords> p_{};
  std::array<std::array<std::uint32_t, kBlowfishSBoxWords>, kBlowfishSBoxes> s_{};
  BlowfishPlanes planes_{};  // P and S for the wide rounds
};

}  // namespace sorvel
