#pragma once
// The Blowfish initial tables: the fractional hex digits of pi, P-array first, then S[0]..S[3].
#include <array>
#include <cstddef>
#include <cstdint>

namespace sorvel {

inline constexpr std::size_t kBlowfishPWords = 18;
inline constexpr std::size_t kBlowfishSBoxes = 4;
inline constexpr std::size_t kBlowfishSBoxWords = 256;

extern const std::array<std::uint32_t, kBlowfishPWords> kBlowfishInitialP;
extern const std::array<std::array<std::uint32_t, kBlowfishSBoxWords>, kBlowfishSBoxes> kBlowfishInitialS;

}  // namespace sorvel
