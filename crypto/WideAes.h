#pragma once
// The data ciphers' block loops on 256-bit AES instructions (x86 VAES with AVX2 and VPCLMULQDQ):
// two 16-byte blocks per instruction, sixteen blocks side by side; where the processor also has
// AVX-512, four blocks per instruction and thirty-two side by side first. Each takes the whole
// groups of sixteen blocks at the start of its input and leaves the rest to the loops of
// AesInstructions, carrying on where it stopped. Only where `haveWideAes()` is true.
#include <cstddef>
#include <cstdint>

namespace sorvel {

// The blocks one call handles at a time; shorter input, and the rest of longer input, is left.
inline constexpr std::size_t kWideAesGroupBytes = 16 * 16;

// Built for an x86 processor and running on one with the instructions (and an OS that saves the
// 256-bit registers).
bool haveWideAes();

// With false, the 256-bit loops take every group, as on a processor without AVX-512: lets tests
// run them on a processor that has it. True (the default) restores the 512-bit loops.
void allowWiderAes(bool allowed);

// XTS as xtsDecryptBlocks, over the whole groups of `length`: returns the bytes done, and leaves
// in `low`, `high` the tweak of the first block not done.
std::size_t wideXtsDecrypt(const std::uint8_t* decryptionKeys, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t length, std::uint64_t& low, std::uint64_t& high);

// CFB as cfbDecryptBlocks, over the whole groups of `length`: returns the bytes done. `feedback`
// (16 bytes) holds the IV on entry and the feedback for the rest on return: the last ciphertext
// block done, kept apart because `out` may be `in`.
std::size_t wideCfbDecrypt(const std::uint8_t* encryptionKeys, std::uint8_t* feedback, const std::uint8_t* in,
                           std::uint8_t* out, std::size_t length);

}  // namespace sorvel
