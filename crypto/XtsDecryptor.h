#pragma once
// XTS-AES-256 decryption of data units whose length is a whole number of 16-byte blocks, keyed
// once and then shared by every thread: both AES key schedules are built when the decryptor is,
// not per unit. It gives exactly the bytes of the XTS wrappers (aesxts/libaesxts), which remain
// the reference and handle units that need ciphertext stealing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include <crypto++/aes.h>

namespace sorvel {

class XtsDecryptor {
 public:
  // True where AES runs on the processor's AES instructions: only then do Crypto++'s block calls
  // on one keyed object keep no state in it, so that threads may share it.
  static bool shareable();

  // `key`: the 64-byte XTS key (data key, then tweak key).
  explicit XtsDecryptor(std::span<const std::uint8_t> key);
  ~XtsDecryptor();
  XtsDecryptor(const XtsDecryptor&) = delete;
  XtsDecryptor& operator=(const XtsDecryptor&) = delete;

  // Decrypts one data unit of `length` bytes, a non-zero multiple of 16, into `out` (which may be
  // `in`). False, with nothing written, for any other length.
  bool decrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t length,
               const std::array<std::uint8_t, 16>& tweak) const;

 private:
  CryptoPP::AES::Decryption data_;
  CryptoPP::AES::Encryption tweak_;
  // Where the processor has AES instructions: the data key's 15 decryption round keys, with which
  // each 16-byte block is tweaked, decrypted and tweaked again in one pass over the unit.
  bool singlePass_ = false;
  alignas(16) std::array<std::uint8_t, 15 * 16> roundKeys_{};
};

}  // namespace sorvel
