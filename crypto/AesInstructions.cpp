#include "crypto/AesInstructions.h"

#include "base/Bytes.h"
#include "crypto/WideAes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <crypto++/cpu.h>
#include <immintrin.h>

#include <cstring>

namespace sorvel {
namespace {

constexpr std::size_t kUnit = 16;
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

// The encryption round keys of a 32-byte AES key.
__attribute__((target("aes,sse2"))) void expandKeys(const std::uint8_t* key, __m128i* keys) {
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
}

// The rounds after the first of kLanes blocks side by side (decrypting or encrypting), each
// result xored with its mask and stored at `out`, one after the other. Unrolled, so that the
// blocks stay in registers; the round keys are read from memory by each round.
template <bool kDecrypt>
__attribute__((target("aes,sse2"), always_inline)) inline void finishLanes(__m128i* blocks, const __m128i* keys,
                                                                           const __m128i* masks, std::uint8_t* out) {
#pragma GCC unroll 14
  for (std::size_t r = 1; r < kRounds; ++r) {
    const __m128i key = _mm_load_si128(keys + r);
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      blocks[i] = kDecrypt ? _mm_aesdec_si128(blocks[i], key) : _mm_aesenc_si128(blocks[i], key);
    }
  }
  const __m128i last = _mm_load_si128(keys + kRounds);
#pragma GCC unroll 8
  for (std::size_t i = 0; i < kLanes; ++i) {
    const __m128i result = kDecrypt ? _mm_aesdeclast_si128(blocks[i], last) : _mm_aesenclast_si128(blocks[i], last);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * kUnit), _mm_xor_si128(result, masks[i]));
  }
}

// One block encrypted with the encryption round keys.
__attribute__((target("aes,sse2"))) __m128i encryptBlock(const __m128i* keys, __m128i block) {
  block = _mm_xor_si128(block, _mm_load_si128(keys));
  for (std::size_t r = 1; r < kRounds; ++r) block = _mm_aesenc_si128(block, _mm_load_si128(keys + r));
  return _mm_aesenclast_si128(block, _mm_load_si128(keys + kRounds));
}

}  // namespace

__attribute__((target("aes,sse2"))) void xtsDecryptBlocks(const std::uint8_t* roundKeys, const std::uint8_t* in,
                                                          std::uint8_t* out, std::size_t length, std::uint64_t low,
                                                          std::uint64_t high) {
  // Groups of blocks on the wide instructions where there are, then kLanes blocks at a time, then
  // one at a time.
  const auto* keys = reinterpret_cast<const __m128i*>(roundKeys);
  std::size_t at = haveWideAes() ? wideXtsDecrypt(roundKeys, in, out, length, low, high) : 0;
  auto nextTweak = [&] {
    const __m128i tweak = _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    doubleXtsTweak(low, high);
    return tweak;
  };
  for (; at + kLanes * kUnit <= length; at += kLanes * kUnit) {
    __m128i tweaks[kLanes];
    __m128i blocks[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      tweaks[i] = nextTweak();
      const __m128i stored = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at + i * kUnit));
      blocks[i] = _mm_xor_si128(_mm_xor_si128(stored, tweaks[i]), _mm_load_si128(keys));
    }
    finishLanes<true>(blocks, keys, tweaks, out + at);
  }
  for (; at < length; at += kUnit) {
    const __m128i tweak = nextTweak();
    __m128i block = _mm_xor_si128(_mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at)), tweak),
                                  _mm_load_si128(keys));
    for (std::size_t r = 1; r < kRounds; ++r) block = _mm_aesdec_si128(block, _mm_load_si128(keys + r));
    const __m128i plain = _mm_xor_si128(_mm_aesdeclast_si128(block, _mm_load_si128(keys + kRounds)), tweak);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), plain);
  }
}

// The round keys stay in the vector registers after the loops, and from there reach memory
// whenever the thread's registers are saved (a signal's frame on its stack). A CFB key may be a
// password's own bytes: they are cleared on the way out.
inline void clearVectorRegisters() {
#if defined(__x86_64__)
  asm volatile(
      "pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\tpxor %%xmm3, %%xmm3\n\t"
      "pxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\tpxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\t"
      "pxor %%xmm8, %%xmm8\n\tpxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
      "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\tpxor %%xmm15, %%xmm15" ::
          : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
            "xmm13", "xmm14", "xmm15");
#endif
}

__attribute__((target("aes,sse2"))) void cfbDecryptBlocks(const std::uint8_t* roundKeys, const std::uint8_t* iv,
                                                          const std::uint8_t* in, std::uint8_t* out,
                                                          std::size_t length) {
  const auto* keys = reinterpret_cast<const __m128i*>(roundKeys);
  // Every block's keystream is the encrypted block before it, so kLanes blocks go side by side;
  // all of a group's ciphertext is read before any of it is overwritten.
  alignas(16) std::uint8_t feedback[kUnit];
  std::memcpy(feedback, iv, kUnit);
  std::size_t at = haveWideAes() ? wideCfbDecrypt(roundKeys, feedback, in, out, length) : 0;
  __m128i before = _mm_load_si128(reinterpret_cast<const __m128i*>(feedback));
  secureWipe(feedback, sizeof feedback);
  for (; at + kLanes * kUnit <= length; at += kLanes * kUnit) {
    __m128i stored[kLanes];
    __m128i blocks[kLanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < kLanes; ++i) {
      stored[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at + i * kUnit));
      blocks[i] = _mm_xor_si128(i == 0 ? before : stored[i - 1], _mm_load_si128(keys));
    }
    before = stored[kLanes - 1];
    finishLanes<false>(blocks, keys, stored, out + at);
  }
  for (; at + kUnit <= length; at += kUnit) {
    const __m128i stored = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_xor_si128(encryptBlock(keys, before), stored));
    before = stored;
  }
  if (at < length) {
    alignas(16) std::uint8_t keystream[kUnit];
    _mm_store_si128(reinterpret_cast<__m128i*>(keystream), encryptBlock(keys, before));
    for (std::size_t i = 0; at + i < length; ++i) out[at + i] = static_cast<std::uint8_t>(in[at + i] ^ keystream[i]);
    secureWipe(keystream, sizeof keystream);
  }
  clearVectorRegisters();
}

bool haveAesInstructions() { return CryptoPP::HasAESNI(); }

__attribute__((target("aes,sse2"))) void aesEncryptionKeys(const std::uint8_t* key, std::uint8_t* roundKeys) {
  __m128i keys[kRounds + 1];
  expandKeys(key, keys);
  for (std::size_t r = 0; r <= kRounds; ++r) _mm_store_si128(reinterpret_cast<__m128i*>(roundKeys) + r, keys[r]);
  secureWipe(keys, sizeof keys);
}

__attribute__((target("aes,sse2"))) void aesDecryptionKeys(const std::uint8_t* key, std::uint8_t* roundKeys) {
  __m128i keys[kRounds + 1];
  expandKeys(key, keys);
  auto* rounds = reinterpret_cast<__m128i*>(roundKeys);
  _mm_store_si128(rounds, keys[kRounds]);
  for (std::size_t r = 1; r < kRounds; ++r) _mm_store_si128(rounds + r, _mm_aesimc_si128(keys[kRounds - r]));
  _mm_store_si128(rounds + kRounds, keys[0]);
  secureWipe(keys, sizeof keys);
}

}  // namespace sorvel

#else

namespace sorvel {

bool haveAesInstructions() { return false; }
void aesEncryptionKeys(const std::uint8_t*, std::uint8_t*) {}
void aesDecryptionKeys(const std::uint8_t*, std::uint8_t*) {}
void xtsDecryptBlocks(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t, std::uint64_t,
                      std::uint64_t) {}
void cfbDecryptBlocks(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t) {}

}  // namespace sorvel

#endif
