#pragma once
// AES-256 on the processor's AES instructions (x86): the round keys of a 32-byte key, and the
// two block loops the data ciphers run on them, each block read and written once. Only where
// `haveAesInstructions()` is true; elsewhere the ciphers keep to Crypto++.
#include <cstddef>
#include <cstdint>

namespace sorvel {

inline constexpr std::size_t kAesRoundKeyBytes = 15 * 16;

// Built for an x86 processor and running on one that has the instructions.
bool haveAesInstructions();

// The 15 round keys of `key` (32 bytes) into `roundKeys` (kAesRoundKeyBytes, 16-byte aligned), in
// the order the rounds use them: for encrypting, or for decrypting.
void aesEncryptionKeys(const std::uint8_t* key, std::uint8_t* roundKeys);
void aesDecryptionKeys(const std::uint8_t* key, std::uint8_t* roundKeys);

// The next XTS tweak: the 128-bit little-endian value times x in GF(2^128), reduced by
// x^128 + x^7 + x^2 + x + 1.
inline void doubleXtsTweak(std::uint64_t& low, std::uint64_t& high) {
  const std::uint64_t carry = high >> 63;
  high = (high << 1) | (low >> 63);
  low = (low << 1) ^ (carry * 0x87);
}

// XTS: P = D(C xor T) xor T for each 16-byte block of `length` bytes (a multiple of 16), the
// tweak (`low`, `high`: already encrypted) doubled from block to block. `out` may be `in`.
void xtsDecryptBlocks(const std::uint8_t* decryptionKeys, const std::uint8_t* in, std::uint8_t* out,
                      std::size_t length, std::uint64_t low, std::uint64_t high);

// CFB with 128-bit feedback from `iv` (16 bytes): P = C xor E(the ciphertext block before, or the
// IV), over `length` bytes, the last block possibly partial. `out` may be `in`.
void cfbDecryptBlocks(const std::uint8_t* encryptionKeys, const std::uint8_t* iv, const std::uint8_t* in,
                      std::uint8_t* out, std::size_t length);

}  // namespace sorvel
