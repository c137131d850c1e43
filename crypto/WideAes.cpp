#include "crypto/WideAes.h"

#include "base/Bytes.h"
#include "crypto/AesInstructions.h"
#include "crypto/ProcessorFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define SORVEL_WIDE_AES __attribute__((target("avx2,vaes,pclmul,vpclmulqdq")))

namespace sorvel {
namespace {

constexpr std::size_t kUnit = 16;
constexpr std::size_t kRounds = 14;
// Registers of two blocks each, side by side: enough to keep the AES units busy.
constexpr std::size_t kLanes = kWideAesGroupBytes / (2 * kUnit);

// Each round key in both halves of a register.
SORVEL_WIDE_AES void broadcastKeys(const std::uint8_t* roundKeys, __m256i* keys) {
  const auto* narrow = reinterpret_cast<const __m128i*>(roundKeys);
  for (std::size_t r = 0; r <= kRounds; ++r) keys[r] = _mm256_broadcastsi128_si256(_mm_load_si128(narrow + r));
}

// The rounds after the first of the lanes (decrypting or encrypting), each result xored with its
// mask and stored at `out`, one after the other.
template <bool kDecrypt>
SORVEL_WIDE_AES inline void finishLanes(__m256i* blocks, const __m256i* keys, const __m256i* masks, std::uint8_t* out) {
#pragma GCC unroll 14
  for (std::size_t r = 1; r < kRounds; ++r) {
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      blocks[i] = kDecrypt ? _mm256_aesdec_epi128(blocks[i], keys[r]) : _mm256_aesenc_epi128(blocks[i], keys[r]);
    }
  }
#pragma GCC unroll 8
  for (std::size_t i = 0; i < kLanes; ++i) {
    const __m256i result = kDecrypt ? _mm256_aesdeclast_epi128(blocks[i], keys[kRounds])
                                    : _mm256_aesenclast_epi128(blocks[i], keys[kRounds]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 2 * kUnit), _mm256_xor_si256(result, masks[i]));
  }
}

// Both XTS tweaks of a register times x^16: each 128-bit half shifted by 16 bits, the 16 bits
// shifted out of its top folded back in by the reduction polynomial (x^7 + x^2 + x + 1).
SORVEL_WIDE_AES __m256i timesX16(__m256i tweaks, __m256i polynomial) {
  const __m256i carries = _mm256_srli_epi64(tweaks, 48);                       // top 16 bits of each word
  const __m256i swapped = _mm256_shuffle_epi32(carries, 0x4e);                 // high word's carry low, low word's high
  const __m256i folded = _mm256_clmulepi64_epi128(swapped, polynomial, 0x00);  // < 2^23: within the low word
  const __m256i fix = _mm256_blend_epi32(folded, swapped, 0xcc);  // the low word's carry into the high word
  return _mm256_xor_si256(_mm256_slli_epi64(tweaks, 16), fix);
}

// The round keys stay in vector registers after the loops, and from there reach memory whenever
// the thread's registers are saved (a signal's frame on its stack): they are cleared on the way out.
SORVEL_WIDE_AES inline void clearVectorRegisters() { _mm256_zeroall(); }

}  // namespace

// AVX2 as the compiler's runtime tells it, which also checks that the system saves the 256-bit
// registers.
bool haveWideAes() {
  static const bool have = __builtin_cpu_supports("avx2") && processorHas(ProcessorFeature::VectorAes) &&
                           processorHas(ProcessorFeature::VectorCarrylessMultiply);
  return have;
}

SORVEL_WIDE_AES std::size_t wideXtsDecrypt(const std::uint8_t* decryptionKeys, const std::uint8_t* in,
                                           std::uint8_t* out, std::size_t length, std::uint64_t& low,
                                           std::uint64_t& high) {
  const std::size_t done = length / kWideAesGroupBytes * kWideAesGroupBytes;
  if (done == 0) return 0;
  __m256i keys[kRounds + 1];
  broadcastKeys(decryptionKeys, keys);
  // Lane i holds the tweaks of the group's blocks 2i and 2i+1; each lane steps sixteen blocks on.
  __m256i tweaks[kLanes];
  for (std::size_t i = 0; i < kLanes; ++i) {
    const std::uint64_t low0 = low;
    const std::uint64_t high0 = high;
    doubleXtsTweak(low, high);
    tweaks[i] = _mm256_set_epi64x(static_cast<long long>(high), static_cast<long long>(low),
                                  static_cast<long long>(high0), static_cast<long long>(low0));
    doubleXtsTweak(low, high);
  }
  const __m256i polynomial = _mm256_set_epi64x(0, 0x87, 0, 0x87);
  for (std::size_t at = 0; at < done; at += kWideAesGroupBytes) {
    __m256i blocks[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      const __m256i stored = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at + i * 2 * kUnit));
      blocks[i] = _mm256_xor_si256(_mm256_xor_si256(stored, tweaks[i]), keys[0]);
    }
    finishLanes<true>(blocks, keys, tweaks, out + at);
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) tweaks[i] = timesX16(tweaks[i], polynomial);
  }
  const __m128i next = _mm256_castsi256_si128(tweaks[0]);
  low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(next));
  high = static_cast<std::uint64_t>(_mm_extract_epi64(next, 1));
  secureWipe(keys, sizeof keys);
  secureWipe(tweaks, sizeof tweaks);
  clearVectorRegisters();
  return done;
}

SORVEL_WIDE_AES std::size_t wideCfbDecrypt(const std::uint8_t* encryptionKeys, std::uint8_t* feedback,
                                           const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
  const std::size_t done = length / kWideAesGroupBytes * kWideAesGroupBytes;
  if (done == 0) return 0;
  __m256i keys[kRounds + 1];
  broadcastKeys(encryptionKeys, keys);
  // Every block's keystream is the block before it encrypted; all of a group's ciphertext is read
  // before any of it is overwritten.
  __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(feedback));
  for (std::size_t at = 0; at < done; at += kWideAesGroupBytes) {
    const std::uint8_t* group = in + at;
    __m256i stored[kLanes];
    __m256i blocks[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      stored[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(group + i * 2 * kUnit));
      blocks[i] = i == 0 ? _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(group)), before)
                         : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(group + i * 2 * kUnit - kUnit));
      blocks[i] = _mm256_xor_si256(blocks[i], keys[0]);
    }
    before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + kWideAesGroupBytes - kUnit));
    finishLanes<false>(blocks, keys, stored, out + at);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(feedback), before);
  secureWipe(keys, sizeof keys);
  clearVectorRegisters();
  return done;
}

}  // namespace sorvel

#else

namespace sorvel {

bool haveWideAes() { return false; }
std::size_t wideXtsDecrypt(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint64_t&,
                           std::uint64_t&) {
  return 0;
}
std::size_t wideCfbDecrypt(const std::uint8_t*, std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t) {
  return 0;
}

}  // namespace sorvel

#endif
