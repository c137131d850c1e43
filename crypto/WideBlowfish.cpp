#include "crypto/WideBlowfish.h"

#include <atomic>

#include "crypto/ProcessorFeatures.h"
#include "crypto/VectorRegisters.h"

namespace sorvel {

namespace {

std::atomic<bool> wideAllowed{true};

}  // namespace

void allowWideBlowfish(bool allowed) { wideAllowed.store(allowed, std::memory_order_relaxed); }

void makeBlowfishPlanes(const std::array<std::uint32_t, kBlowfishPWords>& p,
                        const std::array<std::array<std::uint32_t, kBlowfishSBoxWords>, kBlowfishSBoxes>& s,
                        BlowfishPlanes& planes) {
  constexpr std::size_t kHalf = kBlowfishSBoxWords / 2;
  for (std::size_t k = 0; k < kBlowfishSBoxes; ++k) {
    for (std::size_t j = 0; j < 4; ++j) {
      auto& plane = planes.boxes[k][j];
      for (std::size_t e = 0; e < kBlowfishSBoxWords; ++e) plane[e] = static_cast<std::uint8_t>(s[k][e] >> (8 * j));
      if (k == 2) {
        for (std::size_t e = kHalf; e < kBlowfishSBoxWords; ++e) plane[e] ^= plane[e - kHalf];
      }
    }
  }
  for (std::size_t i = 0; i < kBlowfishPWords; ++i) {
    for (std::size_t j = 0; j < 4; ++j) planes.subkeys[i][j] = ((p[i] >> (8 * j)) & 0xFF) * 0x01010101u;
  }
}

}  // namespace sorvel

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define SORVEL_WIDE_BLOWFISH __attribute__((target("avx512f,avx512bw,avx512vbmi")))
// The steps of a group, all in one function body: a call between them would pass the vectors
// through memory.
#define SORVEL_WIDE_BLOWFISH_STEP __attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline

namespace sorvel {
namespace {

constexpr std::size_t kRounds = 16;
constexpr std::size_t kHalfBytes = 4;
constexpr std::size_t kBlockBytes = 2 * kHalfBytes;

// One half (L or R) of the 64 blocks of a group: plane j holds byte j (little-endian) of each.
struct Half {
  __m512i plane[kHalfBytes];
};

// Within 64 bytes of eight blocks: byte j of block m moves to byte 8j + m, so that each 64-bit
// word holds one byte of all eight blocks. The same permutation takes them back. (A two-register
// permute of one register: GCC's one-register form warns about its own undefined operand.)
struct ByteTranspose {
  alignas(64) std::uint8_t index[64];
  constexpr ByteTranspose() : index{} {
    for (int j = 0; j < 8; ++j) {
      for (int m = 0; m < 8; ++m) index[8 * j + m] = static_cast<std::uint8_t>(8 * m + j);
    }
  }
};
constexpr ByteTranspose kByteTranspose{};

// The 8 x 8 matrix of 64-bit words in `rows` transposed: its own inverse.
SORVEL_WIDE_BLOWFISH_STEP void transposeWords(__m512i* rows) {
  const __m512i lower[3] = {_mm512_set_epi64(14, 6, 12, 4, 10, 2, 8, 0), _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0),
                            _mm512_set_epi64(11, 10, 9, 8, 3, 2, 1, 0)};
  const __m512i upper[3] = {_mm512_set_epi64(15, 7, 13, 5, 11, 3, 9, 1), _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2),
                            _mm512_set_epi64(15, 14, 13, 12, 7, 6, 5, 4)};
#pragma GCC unroll 3
  for (int level = 0; level < 3; ++level) {
    const int distance = 1 << level;
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
      if ((i & distance) != 0) continue;
      const __m512i a = rows[i];
      const __m512i b = rows[i + distance];
      rows[i] = _mm512_permutex2var_epi64(a, lower[level], b);
      rows[i + distance] = _mm512_permutex2var_epi64(a, upper[level], b);
    }
  }
}

// Entry `index` (each byte of it) of a 256-byte table plane: the lower and the upper 128 entries
// by two-register permutes (7 bits of the index), chosen by the index's top bit.
SORVEL_WIDE_BLOWFISH_STEP __m512i lookupPlane(const std::uint8_t* table, __m512i index, __mmask64 upper) {
  const auto* rows = reinterpret_cast<const __m512i*>(table);
  const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(rows), index, _mm512_loadu_si512(rows + 1));
  const __m512i high = _mm512_permutex2var_epi8(_mm512_loadu_si512(rows + 2), index, _mm512_loadu_si512(rows + 3));
  return _mm512_mask_blend_epi8(upper, low, high);
}

SORVEL_WIDE_BLOWFISH_STEP Half lookup(const BlowfishPlanes& planes, std::size_t box, __m512i index) {
  const __mmask64 upper = _mm512_movepi8_mask(index);
  Half out;
#pragma GCC unroll 4
  for (std::size_t j = 0; j < kHalfBytes; ++j) out.plane[j] = lookupPlane(planes.boxes[box][j].data(), index, upper);
  return out;
}

// `into` xor the entries of box 2, whose upper halves hold upper xor lower: the upper permute
// only where the index's top bit is set, and both xored in at once.
SORVEL_WIDE_BLOWFISH_STEP void xorLookup(const BlowfishPlanes& planes, std::size_t box, __m512i index, Half& into) {
  const __mmask64 upper = _mm512_movepi8_mask(index);
#pragma GCC unroll 4
  for (std::size_t j = 0; j < kHalfBytes; ++j) {
    const auto* rows = reinterpret_cast<const __m512i*>(planes.boxes[box][j].data());
    const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(rows), index, _mm512_loadu_si512(rows + 1));
    const __m512i high =
        _mm512_maskz_permutex2var_epi8(upper, _mm512_loadu_si512(rows + 2), index, _mm512_loadu_si512(rows + 3));
    into.plane[j] = _mm512_ternarylogic_epi32(into.plane[j], low, high, 0x96);  // three-way xor
  }
}

// `sum` + `addend` modulo 2^32 for each block: byte-wise additions, each plane's carries (where
// the byte sum wrapped, or wrapped when the carry came in) added to the plane above.
SORVEL_WIDE_BLOWFISH_STEP void add(Half& sum, const Half& addend) {
  const __m512i one = _mm512_set1_epi8(1);
  const __m512i zero = _mm512_setzero_si512();
  __mmask64 carries = 0;
#pragma GCC unroll 4
  for (std::size_t j = 0; j < kHalfBytes; ++j) {
    __m512i plane = _mm512_add_epi8(sum.plane[j], addend.plane[j]);
    const bool last = j + 1 == kHalfBytes;
    __mmask64 out = last ? 0 : _mm512_cmplt_epu8_mask(plane, addend.plane[j]);
    if (j > 0) {
      plane = _mm512_mask_add_epi8(plane, carries, plane, one);
      if (!last) out |= _mm512_mask_cmpeq_epi8_mask(carries, plane, zero);
    }
    carries = out;
    sum.plane[j] = plane;
  }
}

// Blowfish's F: ((S0[a] + S1[b]) xor S2[c]) + S3[d], with a the top byte of x and d the lowest.
SORVEL_WIDE_BLOWFISH_STEP Half roundFunction(const BlowfishPlanes& planes, const Half& x) {
  Half f = lookup(planes, 0, x.plane[3]);
  add(f, lookup(planes, 1, x.plane[2]));
  xorLookup(planes, 2, x.plane[1], f);
  add(f, lookup(planes, 3, x.plane[0]));
  return f;
}

// `half` xor `f` xor the subkey.
SORVEL_WIDE_BLOWFISH_STEP void mix(Half& half, const Half& f, const std::array<std::uint32_t, 4>& subkey) {
#pragma GCC unroll 4
  for (std::size_t j = 0; j < kHalfBytes; ++j) {
    half.plane[j] =
        _mm512_ternarylogic_epi32(half.plane[j], f.plane[j], _mm512_set1_epi32(static_cast<int>(subkey[j])), 0x96);
  }
}

// The 64 blocks at `blocks`, in place. The rounds as BlowfishState's, each subkey xored in
// together with the round function before it.
template <bool kDecrypt>
SORVEL_WIDE_BLOWFISH_STEP void transformGroup(const BlowfishPlanes& planes, std::uint8_t* blocks) {
  auto subkey = [&planes](std::size_t step) -> const std::array<std::uint32_t, 4>& {
    return planes.subkeys[kDecrypt ? kRounds + 1 - step : step];
  };
  const __m512i byteTranspose = _mm512_load_si512(kByteTranspose.index);
  __m512i rows[kBlockBytes];
#pragma GCC unroll 8
  for (std::size_t i = 0; i < kBlockBytes; ++i) {
    const __m512i stored = _mm512_loadu_si512(blocks + 64 * i);
    rows[i] = _mm512_permutex2var_epi8(stored, byteTranspose, stored);
  }
  transposeWords(rows);
  Half left;
  Half right;
#pragma GCC unroll 4
  for (std::size_t j = 0; j < kHalfBytes; ++j) {
    left.plane[j] = _mm512_xor_si512(rows[j], _mm512_set1_epi32(static_cast<int>(subkey(0)[j])));
    right.plane[j] = rows[kHalfBytes + j];
  }
#pragma GCC unroll 16
  for (std::size_t step = 0; step < kRounds; step += 2) {
    mix(right, roundFunction(planes, left), subkey(step + 1));
    mix(left, roundFunction(planes, right), subkey(step + 2));
  }
  // The halves leave swapped, the right one with the last subkey.
#pragma GCC unroll 4
  for (std::size_t j = 0; j < kHalfBytes; ++j) {
    rows[j] = _mm512_xor_si512(right.plane[j], _mm512_set1_epi32(static_cast<int>(subkey(kRounds + 1)[j])));
    rows[kHalfBytes + j] = left.plane[j];
  }
  transposeWords(rows);
#pragma GCC unroll 8
  for (std::size_t i = 0; i < kBlockBytes; ++i) {
    _mm512_storeu_si512(blocks + 64 * i, _mm512_permutex2var_epi8(rows[i], byteTranspose, rows[i]));
  }
}

template <bool kDecrypt>
SORVEL_WIDE_BLOWFISH std::size_t transformGroups(const BlowfishPlanes& planes, std::uint8_t* buffer,
                                                 std::size_t length) {
  const std::size_t done = length / kWideBlowfishGroupBytes * kWideBlowfishGroupBytes;
  if (done == 0) return 0;
  for (std::size_t at = 0; at < done; at += kWideBlowfishGroupBytes) transformGroup<kDecrypt>(planes, buffer + at);
  // The tables and the blocks' bytes are left in the registers.
  clearAvx512Registers();
  return done;
}

}  // namespace

// AVX-512F and BW as the compiler's runtime tells them, which also checks that the system saves
// the 512-bit and mask registers.
bool haveWideBlowfish() {
  static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                           processorHas(ProcessorFeature::BytePermutes);
  return have && wideAllowed.load(std::memory_order_relaxed);
}

std::size_t wideBlowfishEncrypt(const BlowfishPlanes& planes, std::uint8_t* buffer, std::size_t length) {
  return transformGroups<false>(planes, buffer, length);
}

std::size_t wideBlowfishDecrypt(const BlowfishPlanes& planes, std::uint8_t* buffer, std::size_t length) {
  return transformGroups<true>(planes, buffer, length);
}

}  // namespace sorvel

#else

namespace sorvel {

bool haveWideBlowfish() { return false; }
std::size_t wideBlowfishEncrypt(const BlowfishPlanes&, std::uint8_t*, std::size_t) { return 0; }
std::size_t wideBlowfishDecrypt(const BlowfishPlanes&, std::uint8_t*, std::size_t) { return 0; }

}  // namespace sorvel

#endif
