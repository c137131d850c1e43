#include "crypto/CfbTransform.h"

#include <algorithm>
#include <new>

#include <crypto++/aes.h>
#include <crypto++/modes.h>

#include "crypto/AesInstructions.h"

namespace sorvel {

namespace {

CryptoPP::SecByteBlock zeroPaddedPrefix(const Bytes& source, std::size_t size) {
  CryptoPP::SecByteBlock block;
  block.CleanNew(size);
  std::copy_n(source.begin(), std::min(source.size(), size), block.begin());
  return block;
}

// One mode object per call; resynchronising to the IV restarts it exactly as a new object would.
template <class Mode>
void processChunks(const CfbKeyMaterial& material, const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
  Mode mode(material.key.data(), material.key.size(), material.iv.data());
  for (std::size_t at = 0; at < length; at += kCfbChunkSize) {
    if (at != 0) mode.Resynchronize(material.iv.data(), static_cast<int>(material.iv.size()));
    mode.ProcessData(out + at, in + at, std::min(kCfbChunkSize, length - at));
  }
}

// Decryption on the processor's AES instructions, each chunk from the IV, in one pass over it.
void decryptChunks(const CfbKeyMaterial& material, const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
  for (std::size_t at = 0; at < length; at += kCfbChunkSize) {
    cfbDecryptBlocks(material.roundKeys.data(), material.iv.data(), in + at, out + at,
                     std::min(kCfbChunkSize, length - at));
  }
}

}  // namespace

CfbKeyMaterial makeCfbKeyMaterial(const Bytes& key, const Bytes& salt) {
  CfbKeyMaterial material;
  material.key = zeroPaddedPrefix(key, kCfbKeySize);
  material.iv = zeroPaddedPrefix(salt, kCfbIvSize);
  if (haveAesInstructions()) {
    material.roundKeys.CleanNew(kAesRoundKeyBytes);
    aesEncryptionKeys(material.key.data(), material.roundKeys.data());
  }
  return material;
}

bool cfbTransformInto(CfbDirection direction, const std::uint8_t* data, std::uint8_t* out, std::size_t length,
                      const CfbKeyMaterial& material) {
  try {
    if (direction == CfbDirection::Encrypt) {
      processChunks<CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption>(material, data, out, length);
    } else if (!material.roundKeys.empty()) {
      decryptChunks(material, data, out, length);
    } else {
      processChunks<CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption>(material, data, out, length);
    }
  } catch (const CryptoPP::Exception&) {
    return false;
  }
  return true;
}

std::optional<Bytes> cfbTransform(CfbDirection direction, const std::uint8_t* data, std::size_t length,
                                  const CfbKeyMaterial& material) {
  Bytes out;
  try {
    out.assign((length + kCfbChunkSize - 1) / kCfbChunkSize * kCfbChunkSize, 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!cfbTransformInto(direction, data, out.data(), length, material)) {
    secureWipe(out);
    return std::nullopt;
  }
  return out;
}

std::optional<Bytes> cfbTransform(CfbDirection direction, const std::uint8_t* data, std::size_t length,
                                  const Bytes& key, const Bytes& salt) {
  try {
    return cfbTransform(direction, data, length, makeCfbKeyMaterial(key, salt));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace sorvel
