#include "crypto/CipherContext.h"

#include <cstring>
#include <mutex>

#include <crypto++/secblock.h>

#include "aesxts/libaesxts/cryptaesxts.h"
#include "crypto/Blowfish.h"
#include "crypto/CfbTransform.h"
#include "crypto/XtsDecryptor.h"
#include "crypto/XtsKey.h"

namespace sorvel {

namespace {

enum class Direction { Encrypt, Decrypt };

constexpr std::size_t kXtsShortestUnit = 16;

bool xtsCanProcess(std::size_t length, std::uint32_t blockNumber) {
  return blockNumber != 0 && length >= kXtsShortestUnit;
}

// Everything a cipher needs that depends only on type, key and salt; built once per keying and
// shared read-only by every call, so concurrent calls need no lock. Wipes itself when destroyed.
struct KeyMaterial {
  BlowfishState blowfish;
  CfbKeyMaterial cfb;
  CryptoPP::SecByteBlock xtsKey;
  std::unique_ptr<XtsDecryptor> xts;  // where it may be shared; else the XTS wrappers alone

  void prepare(std::int32_t type, const Bytes& key, const Bytes& salt) {
    switch (static_cast<CipherType>(type)) {
      case CipherType::Blowfish:
        blowfish.setKey(key);
        break;
      case CipherType::AesCfb:
        cfb = makeCfbKeyMaterial(key, salt);
        break;
      case CipherType::AesXts:
        xtsKey = deriveXtsKey(key, salt);
        if (XtsDecryptor::shareable()) xts = std::make_unique<XtsDecryptor>(xtsKey);
        break;
      default:
        break;
    }
  }
};

// Without a key the stored form is the data itself, both ways.
std::optional<Bytes> unkeyed(const std::uint8_t* data, std::size_t length) {
  if (length == 0) return std::nullopt;
  return Bytes(data, data + length);
}

std::optional<Bytes> transform(Direction direction, std::int32_t type, const KeyMaterial& material,
                               const std::uint8_t* data, std::size_t length, std::uint32_t blockNumber) {
  switch (static_cast<CipherType>(type)) {
    case CipherType::Blowfish:
      return direction == Direction::Encrypt ? material.blowfish.encryptBuffer(data, length)
                                             : material.blowfish.decryptBuffer(data, length);
    case CipherType::AesCfb:
      return cfbTransform(direction == Direction::Encrypt ? CfbDirection::Encrypt : CfbDirection::Decrypt, data, length,
                          material.cfb);
    case CipherType::AesXts: {
      // Block 0 is the key block, which this cipher cannot protect; a unit shorter than one AES
      // block cannot be processed, and the wrappers would throw or stop the process on it.
      if (!xtsCanProcess(length, blockNumber)) return std::nullopt;
      const auto tweak = makeTweak(blockNumber);
      return direction == Direction::Encrypt ? xtsEncrypt(data, length, material.xtsKey, tweak)
                                             : xtsDecrypt(data, length, material.xtsKey, tweak);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

struct CipherContext::KeyedState {
  std::once_flag prepared;
  KeyMaterial material;
};

CipherContext::CipherContext() : keyed_(std::make_unique<KeyedState>()) {}

CipherContext::~CipherContext() {
  secureWipe(key_);
  secureWipe(salt_);
}

void CipherContext::setType(std::int32_t type) {
  type_ = type;
  dropKeyedState();
}

void CipherContext::setKey(const Bytes& key) {
  secureWipe(key_);
  key_ = key;
  dropKeyedState();
}

void CipherContext::setSalt(const std::uint8_t* salt, std::size_t length) {
  secureWipe(salt_);
  if (length != 0) salt_.assign(salt, salt + length);
  dropKeyedState();
}

void CipherContext::forgetKey() {
  keyedState();
  secureWipe(key_);
}

void CipherContext::dropKeyedState() {
  keyed_ = std::make_unique<KeyedState>();
  hasKey_ = !key_.empty();  // a forgotten key cannot make the new state
}

const CipherContext::KeyedState& CipherContext::keyedState() const {
  std::call_once(keyed_->prepared, [this] { keyed_->material.prepare(type_, key_, salt_); });
  return *keyed_;
}

std::optional<Bytes> CipherContext::encrypt(const std::uint8_t* data, std::size_t length,
                                            std::uint32_t blockNumber) const {
  if (!hasKey_) return unkeyed(data, length);
  return transform(Direction::Encrypt, type_, keyedState().material, data, length, blockNumber);
}

std::optional<Bytes> CipherContext::decrypt(const std::uint8_t* data, std::size_t length,
                                            std::uint32_t blockNumber) const {
  if (!hasKey_) return unkeyed(data, length);
  return transform(Direction::Decrypt, type_, keyedState().material, data, length, blockNumber);
}

bool CipherContext::decryptInto(const std::uint8_t* data, std::uint8_t* out, std::size_t length,
                                std::uint32_t blockNumber) const {
  if (!hasKey_) {
    if (length == 0) return false;
    if (out != data) std::memmove(out, data, length);
    return true;
  }
  const KeyMaterial& material = keyedState().material;
  switch (static_cast<CipherType>(type_)) {
    case CipherType::Blowfish:
      if (length == 0) return false;
      material.blowfish.decryptInto(data, out, length);
      return true;
    case CipherType::AesCfb:
      return cfbTransformInto(CfbDirection::Decrypt, data, out, length, material.cfb);
    case CipherType::AesXts:
      if (!xtsCanProcess(length, blockNumber)) return false;
      if (material.xts && material.xts->decrypt(data, out, length, makeTweak(blockNumber))) return true;
      xtsDecryptInto(data, length, material.xtsKey, makeTweak(blockNumber), out);
      return true;
    default:
      return false;
  }
}

}  // namespace sorvel
