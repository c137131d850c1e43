#include "crypto/WideAes.h"

#include <atomic>

#include "base/Bytes.h"
#include "crypto/AesInstructions.h"
#include "crypto/ProcessorFeatures.h"
#include "crypto/VectorRegisters.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define SORVEL_WIDE_AES __attribute__((target("avx2,vaes,pclmul,vpclmulqdq")))
#define SORVEL_WIDER_AES __attribute__((target("avx512f,avx512bw,vaes,vpclmulqdq")))

namespace sorvel {
namespace {

constexpr std::size_t kUnit = 16;
constexpr std::size_t kRounds = 14;
// Registers of two blocks each, side by side: enough to keep the AES units busy.
constexpr std::size_t kLanes = kWideAesGroupBytes / (2 * kUnit);
// The 512-bit loops: the same lanes, four blocks each.
constexpr std::size_t kWiderGroupBytes = 2 * kWideAesGroupBytes;

std::atomic<bool> widerAllowed{true};

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

// GCC 12 takes the unused lanes its headers leave "undefined" in the unmasked forms of these for
// uninitialized (and warns); the masked forms with every lane chosen are the same instructions.
SORVEL_WIDER_AES inline __m512i broadcast4(__m128i unit) { return _mm512_maskz_broadcast_i32x4(0xFFFF, unit); }
SORVEL_WIDER_AES inline __m512i shiftWordsLeft(__m512i words, unsigned bits) {
  return _mm512_maskz_slli_epi64(0xFF, words, bits);
}
SORVEL_WIDER_AES inline __m128i lowUnit(__m512i units) { return _mm512_maskz_extracti32x4_epi32(0xF, units, 0); }
SORVEL_WIDER_AES inline __m512i shiftWordsRight(__m512i words, unsigned bits) {
  return _mm512_maskz_srli_epi64(0xFF, words, bits);
}

SORVEL_WIDER_AES void broadcastKeys(const std::uint8_t* roundKeys, __m512i* keys) {
  const auto* narrow = reinterpret_cast<const __m128i*>(roundKeys);
  for (std::size_t r = 0; r <= kRounds; ++r) keys[r] = broadcast4(_mm_load_si128(narrow + r));
}

template <bool kDecrypt>
SORVEL_WIDER_AES inline void finishLanes(__m512i* blocks, const __m512i* keys, const __m512i* masks,
                                         std::uint8_t* out) {
#pragma GCC unroll 14
  for (std::size_t r = 1; r < kRounds; ++r) {
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      blocks[i] = kDecrypt ? _mm512_aesdec_epi128(blocks[i], keys[r]) : _mm512_aesenc_epi128(blocks[i], keys[r]);
    }
  }
#pragma GCC unroll 8
  for (std::size_t i = 0; i < kLanes; ++i) {
    const __m512i result = kDecrypt ? _mm512_aesdeclast_epi128(blocks[i], keys[kRounds])
                                    : _mm512_aesenclast_epi128(blocks[i], keys[kRounds]);
    _mm512_storeu_si512(out + i * 4 * kUnit, _mm512_xor_si512(result, masks[i]));
  }
}

// The four XTS tweaks of a register times x^32, as timesX16 does with sixteen bits (the 32 bits
// shifted out of a tweak's top fold back into fewer than 40 bits of its low word).
SORVEL_WIDER_AES __m512i timesX32(__m512i tweaks, __m512i polynomial) {
  const __m512i carries = shiftWordsRight(tweaks, 32);
  const __m512i swapped = _mm512_maskz_shuffle_epi32(0xFFFF, carries, _MM_PERM_BADC);
  const __m512i folded = _mm512_clmulepi64_epi128(swapped, polynomial, 0x00);
  const __m512i fix = _mm512_mask_blend_epi32(0xCCCC, folded, swapped);
  return _mm512_xor_si512(shiftWordsLeft(tweaks, 32), fix);
}

// The whole 512-byte groups of `length`, as wideXtsDecrypt does with 256.
SORVEL_WIDER_AES std::size_t widerXtsDecrypt(const std::uint8_t* decryptionKeys, const std::uint8_t* in,
                                             std::uint8_t* out, std::size_t length, std::uint64_t& low,
                                             std::uint64_t& high) {
  const std::size_t done = length / kWiderGroupBytes * kWiderGroupBytes;
  if (done == 0) return 0;
  __m512i keys[kRounds + 1];
  broadcastKeys(decryptionKeys, keys);
  // Lane i holds the tweaks of the group's blocks 4i to 4i+3; each lane steps thirty-two blocks on.
  __m512i tweaks[kLanes];
  for (std::size_t i = 0; i < kLanes; ++i) {
    alignas(64) std::uint64_t words[8];
    for (std::size_t b = 0; b < 4; ++b) {
      words[2 * b] = low;
      words[2 * b + 1] = high;
      doubleXtsTweak(low, high);
    }
    tweaks[i] = _mm512_load_si512(words);
    secureWipe(words, sizeof words);
  }
  const __m512i polynomial = _mm512_set_epi64(0, 0x87, 0, 0x87, 0, 0x87, 0, 0x87);
  for (std::size_t at = 0; at < done; at += kWiderGroupBytes) {
    __m512i blocks[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      const __m512i stored = _mm512_loadu_si512(in + at + i * 4 * kUnit);
      blocks[i] = _mm512_xor_si512(_mm512_xor_si512(stored, tweaks[i]), keys[0]);
    }
    finishLanes<true>(blocks, keys, tweaks, out + at);
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) tweaks[i] = timesX32(tweaks[i], polynomial);
  }
  const __m128i next = lowUnit(tweaks[0]);
  low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(next));
  high = static_cast<std::uint64_t>(_mm_extract_epi64(next, 1));
  secureWipe(keys, sizeof keys);
  secureWipe(tweaks, sizeof tweaks);
  clearAvx512Registers();
  return done;
}

// The whole 512-byte groups of `length`, as wideCfbDecrypt does with 256.
SORVEL_WIDER_AES std::size_t widerCfbDecrypt(const std::uint8_t* encryptionKeys, std::uint8_t* feedback,
                                             const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
  const std::size_t done = length / kWiderGroupBytes * kWiderGroupBytes;
  if (done == 0) return 0;
  __m512i keys[kRounds + 1];
  broadcastKeys(encryptionKeys, keys);
  // The group before's last four blocks (at first the IV, in the top one): the first lane's are
  // that last block and the group's first three.
  __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(feedback));
  __m512i before = broadcast4(last);
  for (std::size_t at = 0; at < done; at += kWiderGroupBytes) {
    const std::uint8_t* group = in + at;
    __m512i stored[kLanes];
    __m512i blocks[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      stored[i] = _mm512_loadu_si512(group + i * 4 * kUnit);
      blocks[i] = i == 0 ? _mm512_maskz_alignr_epi64(0xFF, stored[0], before, 6)
                         : _mm512_loadu_si512(group + i * 4 * kUnit - kUnit);
      blocks[i] = _mm512_xor_si512(blocks[i], keys[0]);
    }
    before = stored[kLanes - 1];
    last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + kWiderGroupBytes - kUnit));
    finishLanes<false>(blocks, keys, stored, out + at);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(feedback), last);
  secureWipe(keys, sizeof keys);
  clearAvx512Registers();
  return done;
}

// AVX-512F and BW as the compiler's runtime tells them, which also checks that the system saves
// the 512-bit and mask registers.
bool haveWiderAes() {
  static const bool have = haveWideAes() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return have && widerAllowed.load(std::memory_order_relaxed);
}

}  // namespace

void allowWiderAes(bool allowed) { widerAllowed.store(allowed, std::memory_order_relaxed); }

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
  const std::size_t wider = haveWiderAes() ? widerXtsDecrypt(decryptionKeys, in, out, length, low, high) : 0;
  in += wider;
  out += wider;
  length -= wider;
  const std::size_t done = length / kWideAesGroupBytes * kWideAesGroupBytes;
  if (done == 0) return wider;
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
  return wider + done;
}

SORVEL_WIDE_AES std::size_t wideCfbDecrypt(const std::uint8_t* encryptionKeys, std::uint8_t* feedback,
                                           const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
  const std::size_t wider = haveWiderAes() ? widerCfbDecrypt(encryptionKeys, feedback, in, out, length) : 0;
  in += wider;
  out += wider;
  length -= wider;
  const std::size_t done = length / kWideAesGroupBytes * kWideAesGroupBytes;
  if (done == 0) return wider;
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
  return wider + done;
}

}  // namespace sorvel

#else

namespace sorvel {

bool haveWideAes() { return false; }
void allowWiderAes(bool) {}
std::size_t wideXtsDecrypt(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint64_t&,
                           std::uint64_t&) {
  return 0;
}
std::size_t wideCfbDecrypt(const std::uint8_t*, std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t) {
  return 0;
}

}  // namespace sorvel

#endif
