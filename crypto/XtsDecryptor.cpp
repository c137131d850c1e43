#include "crypto/XtsDecryptor.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <crypto++/cpu.h>
#include <crypto++/misc.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SORVEL_XTS_AESNI 1
#endif

#include "base/ByteOrder.h"
#include "base/Bytes.h"

namespace sorvel {
namespace {

constexpr std::size_t kUnit = 16;
constexpr std::size_t kHalfKey = 32;
// Blocks whose tweaks are prepared at a time: small enough to stay in the first-level cache.
constexpr std::size_t kBlocksPerRound = 64;

// The next block's tweak: the 128-bit little-endian value times x in GF(2^128), reduced by
// x^128 + x^7 + x^2 + x + 1.
void doubleTweak(std::uint64_t& low, std::uint64_t& high) {
  const std::uint64_t carry = high >> 63;
  high = (high << 1) | (low >> 63);
  low = (low << 1) ^ (carry * 0x87);
}

// The tweak's 16 bytes, little-endian: on a little-endian host just its two words' bytes.
void storeTweak(std::uint8_t* at, std::uint64_t low, std::uint64_t high) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &low, sizeof low);
    std::memcpy(at + 8, &high, sizeof high);
  } else {
    storeU64(at, low);
    storeU64(at + 8, high);
  }
}

#ifdef SORVEL_XTS_AESNI
constexpr std::size_t kRounds = 14;
// Blocks decrypted side by side, so that the AES unit's pipeline stays full.
constexpr std::size_t kLanes = 8;

// One step of the AES-256 key expansion: the next two round keys from the last two.
template <int kRoundConstant>
__attribute__((target("aes,sse2"))) void expandStep(__m128i& even, __m128i& odd, __m128i* keys, std::size_t at) {
  auto spread = [](__m128i word, __m128i assist) {
    word = _mm_xor_si128(word, _mm_slli_si128(word, 4));
    word = _mm_xor_si128(word, _mm_slli_si128(word, 4));
    word = _mm_xor_si128(word, _mm_slli_si128(word, 4));
    return _mm_xor_si128(word, assist);
  };
  even = spread(even, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(odd, kRoundConstant), 0xff));
  keys[at] = even;
  if (at + 1 > kRounds) return;
  odd = spread(odd, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(even, 0), 0xaa));
  keys[at + 1] = odd;
}

// The decryption round keys of a 32-byte AES key, in the order the rounds use them.
__attribute__((target("aes,sse2"))) void decryptionKeys(const std::uint8_t* key, std::uint8_t* out) {
  __m128i keys[kRounds + 1];
  __m128i even = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
  __m128i odd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + 16));
  keys[0] = even;
  keys[1] = odd;
  expandStep<0x01>(even, odd, keys, 2);
  expandStep<0x02>(even, odd, keys, 4);
  expandStep<0x04>(even, odd, keys, 6);
  expandStep<0x08>(even, odd, keys, 8);
  expandStep<0x10>(even, odd, keys, 10);
  expandStep<0x20>(even, odd, keys, 12);
  expandStep<0x40>(even, odd, keys, 14);
  auto* rounds = reinterpret_cast<__m128i*>(out);
  _mm_store_si128(rounds, keys[kRounds]);
  for (std::size_t r = 1; r < kRounds; ++r) _mm_store_si128(rounds + r, _mm_aesimc_si128(keys[kRounds - r]));
  _mm_store_si128(rounds + kRounds, keys[0]);
  secureWipe(keys, sizeof keys);
}

// P = D(C xor T) xor T for every 16-byte block of the unit, the tweak doubled from block to block,
// in one pass: kLanes blocks at a time, then one at a time.
__attribute__((target("aes,sse2"))) void decryptUnit(const std::uint8_t* roundKeys, const std::uint8_t* in,
                                                    std::uint8_t* out, std::size_t length, std::uint64_t low,
                                                    std::uint64_t high) {
  // The round keys are read from memory by each round (the sixteen registers hold the blocks and
  // their tweaks); the loops over the lanes are unrolled so that the blocks stay in registers.
  const auto* keys = reinterpret_cast<const __m128i*>(roundKeys);
  auto nextTweak = [&] {
    const __m128i tweak = _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    doubleTweak(low, high);
    return tweak;
  };
  std::size_t at = 0;
  for (; at + kLanes * kUnit <= length; at += kLanes * kUnit) {
    __m128i tweaks[kLanes];
    __m128i blocks[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      tweaks[i] = nextTweak();
      const __m128i stored = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at + i * kUnit));
      blocks[i] = _mm_xor_si128(_mm_xor_si128(stored, tweaks[i]), _mm_load_si128(keys));
    }
#pragma GCC unroll 14
    for (std::size_t r = 1; r < kRounds; ++r) {
      const __m128i key = _mm_load_si128(keys + r);
#pragma GCC unroll 8
      for (std::size_t i = 0; i < kLanes; ++i) blocks[i] = _mm_aesdec_si128(blocks[i], key);
    }
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      const __m128i plain = _mm_xor_si128(_mm_aesdeclast_si128(blocks[i], _mm_load_si128(keys + kRounds)), tweaks[i]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + i * kUnit), plain);
    }
  }
  for (; at < length; at += kUnit) {
    const __m128i tweak = nextTweak();
    __m128i block =
        _mm_xor_si128(_mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at)), tweak), _mm_load_si128(keys));
    for (std::size_t r = 1; r < kRounds; ++r) block = _mm_aesdec_si128(block, _mm_load_si128(keys + r));
    const __m128i plain = _mm_xor_si128(_mm_aesdeclast_si128(block, _mm_load_si128(keys + kRounds)), tweak);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), plain);
  }
}
#endif

}  // namespace

bool XtsDecryptor::shareable() { return CryptoPP::HasAESNI(); }

XtsDecryptor::XtsDecryptor(std::span<const std::uint8_t> key)
    : data_(key.data(), kHalfKey), tweak_(key.data() + kHalfKey, kHalfKey) {
#ifdef SORVEL_XTS_AESNI
  singlePass_ = CryptoPP::HasAESNI();
  if (singlePass_) decryptionKeys(key.data(), roundKeys_.data());
#endif
}

XtsDecryptor::~XtsDecryptor() { secureWipe(roundKeys_.data(), roundKeys_.size()); }

bool XtsDecryptor::decrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t length,
                           const std::array<std::uint8_t, 16>& tweak) const {
  if (length == 0 || length % kUnit != 0) return false;
  std::array<std::uint8_t, kUnit> encryptedTweak{};
  tweak_.ProcessBlock(tweak.data(), encryptedTweak.data());
  std::uint64_t low = loadU64(encryptedTweak.data());
  std::uint64_t high = loadU64(encryptedTweak.data() + 8);
#ifdef SORVEL_XTS_AESNI
  if (singlePass_) {
    decryptUnit(roundKeys_.data(), in, out, length, low, high);
    secureWipe(encryptedTweak.data(), encryptedTweak.size());
    return true;
  }
#endif

  alignas(16) std::array<std::uint8_t, kBlocksPerRound * kUnit> tweaks;
  for (std::size_t at = 0; at < length; at += tweaks.size()) {
    const std::size_t bytes = std::min(tweaks.size(), length - at);
    for (std::size_t b = 0; b < bytes; b += kUnit) {
      storeTweak(tweaks.data() + b, low, high);
      doubleTweak(low, high);
    }
    // P = D(C xor T) xor T: the first xor here, the second by the block call.
    CryptoPP::xorbuf(out + at, in + at, tweaks.data(), bytes);
    data_.AdvancedProcessBlocks(out + at, tweaks.data(), out + at, bytes,
                                CryptoPP::BlockTransformation::BT_AllowParallel);
  }
  secureWipe(tweaks.data(), tweaks.size());
  secureWipe(encryptedTweak.data(), encryptedTweak.size());
  return true;
}

}  // namespace sorvel
