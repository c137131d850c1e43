#include "crypto/XtsDecryptor.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <crypto++/cpu.h>
#include <crypto++/misc.h>

#include "base/ByteOrder.h"
#include "base/Bytes.h"
#include "crypto/AesInstructions.h"

namespace sorvel {
namespace {

constexpr std::size_t kUnit = 16;
constexpr std::size_t kHalfKey = 32;
// Blocks whose tweaks are prepared at a time: small enough to stay in the first-level cache.
constexpr std::size_t kBlocksPerRound = 64;

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

}  // namespace

bool XtsDecryptor::shareable() { return CryptoPP::HasAESNI(); }

XtsDecryptor::XtsDecryptor(std::span<const std::uint8_t> key)
    : data_(key.data(), kHalfKey), tweak_(key.data() + kHalfKey, kHalfKey) {
  singlePass_ = haveAesInstructions();
  if (singlePass_) aesDecryptionKeys(key.data(), roundKeys_.data());
}

XtsDecryptor::~XtsDecryptor() { secureWipe(roundKeys_.data(), roundKeys_.size()); }

bool XtsDecryptor::decrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t length,
                           const std::array<std::uint8_t, 16>& tweak) const {
  if (length == 0 || length % kUnit != 0) return false;
  std::array<std::uint8_t, kUnit> encryptedTweak{};
  tweak_.ProcessBlock(tweak.data(), encryptedTweak.data());
  std::uint64_t low = loadU64(encryptedTweak.data());
  std::uint64_t high = loadU64(encryptedTweak.data() + 8);
  if (singlePass_) {
    xtsDecryptBlocks(roundKeys_.data(), in, out, length, low, high);
    secureWipe(encryptedTweak.data(), encryptedTweak.size());
    return true;
  }

  alignas(16) std::array<std::uint8_t, kBlocksPerRound * kUnit> tweaks;
  for (std::size_t at = 0; at < length; at += tweaks.size()) {
    const std::size_t bytes = std::min(tweaks.size(), length - at);
    for (std::size_t b = 0; b < bytes; b += kUnit) {
      storeTweak(tweaks.data() + b, low, high);
      doubleXtsTweak(low, high);
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
