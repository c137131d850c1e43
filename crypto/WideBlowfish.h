#pragma once
// Blowfish on 512-bit byte permutes (x86 AVX-512 with VBMI): sixty-four blocks side by side, each
// byte of a block in its own register ("byte planes": register j holds byte j of every block), so
// an S-box lookup for all of them is a few table permutes from registers instead of a load per
// block, and the round's additions work on the planes with their carries. Each call takes the
// whole groups of 64 blocks at the start of its buffer and leaves the rest to the scalar rounds.
// Only where `haveWideBlowfish()` is true.
#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/BlowfishTables.h"

namespace sorvel {

// The blocks one call handles at a time; shorter input, and the rest of longer input, is left.
inline constexpr std::size_t kWideBlowfishGroupBytes = 64 * 8;

// A keyed Blowfish (P and S) rearranged for the wide rounds: key material, wiped with the state.
struct BlowfishPlanes {
  // Byte j of entry e of S-box k at boxes[k][j][e]. In box 2 the upper 128 entries of each plane
  // hold upper xor lower: its lookup is xored into the round, so the two halves need no blend.
  alignas(64) std::array<std::array<std::array<std::uint8_t, kBlowfishSBoxWords>, 4>, kBlowfishSBoxes> boxes;
  // Byte j of subkey i in every byte of subkeys[i][j].
  std::array<std::array<std::uint32_t, 4>, kBlowfishPWords> subkeys;
};

// Built for an x86 processor and running on one with the instructions (and an OS that saves the
// 512-bit registers), unless turned off by allowWideBlowfish(false).
bool haveWideBlowfish();

// With false, haveWideBlowfish() says no from then on, as on a processor without the
// instructions: lets tests run the scalar rounds on a processor that has them. True restores it.
void allowWideBlowfish(bool allowed);

void makeBlowfishPlanes(const std::array<std::uint32_t, kBlowfishPWords>& p,
                        const std::array<std::array<std::uint32_t, kBlowfishSBoxWords>, kBlowfishSBoxes>& s,
                        BlowfishPlanes& planes);

// Encrypts or decrypts in place the whole groups of `length` bytes of 8-byte blocks (halves
// little-endian, each block on its own) and returns the bytes done.
std::size_t wideBlowfishEncrypt(const BlowfishPlanes& planes, std::uint8_t* buffer, std::size_t length);
std::size_t wideBlowfishDecrypt(const BlowfishPlanes& planes, std::uint8_t* buffer, std::size_t length);

}  // namespace sorvel
