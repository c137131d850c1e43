#include "crypto/XtsKey.h"

#include <string_view>

#include <crypto++/hkdf.h>
#include <crypto++/sha.h>

#include "aesxts/libaesxts/cryptaesxts.h"
#include "base/ByteOrder.h"

namespace sorvel {

namespace {
constexpr std::string_view kXtsKeyInfo = "SRV-AES256-XTS";
}

CryptoPP::SecByteBlock deriveXtsKey(const Bytes& key, const Bytes& salt) {
  CryptoPP::SecByteBlock derived(kXtsKeyLength);
  CryptoPP::HKDF<CryptoPP::SHA256> hkdf;
  hkdf.DeriveKey(derived.data(), derived.size(), key.data(), key.size(), salt.data(), salt.size(),
                 reinterpret_cast<const CryptoPP::byte*>(kXtsKeyInfo.data()), kXtsKeyInfo.size());
  return derived;
}

std::array<std::uint8_t, 16> makeTweak(std::uint32_t blockNumber) {
  std::array<std::uint8_t, 16> tweak{};
  storeU32BigEndian(tweak.data() + 12, blockNumber);
  return tweak;
}

}  // namespace sorvel
