#include "archive/ArchiveHeader.h"

#include <algorithm>

#include "base/ByteOrder.h"

namespace sorvel {

ArchiveHeader ArchiveHeader::parse(const std::uint8_t* bytes) {
  ArchiveHeader header;
  std::copy_n(bytes + kMagicOffset, kMagicSize, header.magic.begin());
  header.paramWord = loadU16(bytes + kParamWordOffset);
  header.lastBlock = loadU32(bytes + kLastBlockOffset);
  std::copy_n(bytes + kKeySaltOffset, kSaltSize, header.keySalt.begin());
  header.authType = bytes[kAuthTypeOffset];
  header.cipherType = bytes[kCipherTypeOffset];
  header.noPassword = bytes[kNoPasswordOffset];
  header.headerSignature = loadU16(bytes + kSignatureOffset);
  return header;
}

std::array<std::uint8_t, kArchiveHeaderSize> ArchiveHeader::serialize() const {
  std::array<std::uint8_t, kArchiveHeaderSize> bytes{};
  std::copy(magic.begin(), magic.end(), bytes.begin() + kMagicOffset);
  storeU16(bytes.data() + kParamWordOffset, paramWord);
  storeU32(bytes.data() + kLastBlockOffset, lastBlock);
  std::copy(keySalt.begin(), keySalt.end(), bytes.begin() + kKeySaltOffset);
  bytes[kAuthTypeOffset] = authType;
  bytes[kCipherTypeOffset] = cipherType;
  bytes[kNoPasswordOffset] = noPassword;
  storeU16(bytes.data() + kSignatureOffset, headerSignature);
  return bytes;
}

bool ArchiveHeader::magicMatches() const {
  return std::equal(kArchiveMagic.begin(), kArchiveMagic.end(), magic.begin()) && magic[kArchiveMagic.size()] == 0;
}

void ArchiveHeader::setMagic() {
  magic.fill(0);
  std::copy(kArchiveMagic.begin(), kArchiveMagic.end(), magic.begin());
}

}  // namespace sorvel
