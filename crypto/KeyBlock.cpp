#include "crypto/KeyBlock.h"

#include <algorithm>

#include "base/ByteOrder.h"

namespace sorvel {

KeyRecord KeyRecord::parse(const std::uint8_t* bytes) {
  KeyRecord record;
  record.dataCipherType = bytes[kDataCipherTypeOffset];
  record.chainEntryCount = loadU32(bytes + kChainEntryCountOffset);
  std::copy_n(bytes + kPasswordDigestOffset, kPasswordDigestSize, record.passwordDigest.begin());
  std::copy_n(bytes + kDataSaltOffset, kDataSaltSize, record.dataSalt.begin());
  record.keyRecordSignature = loadU16(bytes + kKeyRecordSignatureOffset);
  return record;
}

void KeyRecord::writeTo(std::uint8_t* bytes) const {
  bytes[kDataCipherTypeOffset] = dataCipherType;
  storeU32(bytes + kChainEntryCountOffset, chainEntryCount);
  std::copy(passwordDigest.begin(), passwordDigest.end(), bytes + kPasswordDigestOffset);
  std::copy(dataSalt.begin(), dataSalt.end(), bytes + kDataSaltOffset);
  storeU16(bytes + kKeyRecordSignatureOffset, keyRecordSignature);
}

KeyBlock KeyBlock::parse(const std::uint8_t* bytes) {
  KeyBlock block;
  block.record = KeyRecord::parse(bytes);
  block.keyBlockEndSignature = loadU16(bytes + kKeyBlockEndSignatureOffset);
  return block;
}

Bytes KeyBlock::serialise() const {
  Bytes bytes(kKeyBlockSize, 0);
  record.writeTo(bytes.data());
  storeU16(bytes.data() + kKeyBlockEndSignatureOffset, keyBlockEndSignature);
  return bytes;
}

}  // namespace sorvel
