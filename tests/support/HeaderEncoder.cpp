#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include "support/HeaderEncoder.h"

#include <crypto++/md5.h>

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "support/ArchiveLayout.h"

namespace sorvel::testing {

namespace {

void applyPatches(Bytes& target, const std::vector<BytePatch>& patches) {
  for (const auto& patch : patches) {
    const std::uint64_t end = patch.offset + patch.bytes.size();
    if (end > target.size()) target.resize(end);
    std::copy(patch.bytes.begin(), patch.bytes.end(), target.begin() + static_cast<std::ptrdiff_t>(patch.offset));
  }
}

}  // namespace

Bytes encodeHeader(const ArchiveSettings& settings, std::uint32_t lastBlock) {
  Bytes header(disk::kHeaderSize);
  const Bytes magic =
      settings.magic.value_or(Bytes(disk::kArchiveMagic, disk::kArchiveMagic + sizeof disk::kArchiveMagic));
  std::copy_n(magic.begin(), std::min<std::size_t>(magic.size(), 32), header.begin());
  storeU16(&header[32], settings.paramWord);
  storeU32(&header[34], lastBlock);
  std::copy(settings.keySalt.begin(), settings.keySalt.end(), header.begin() + 38);
  header[54] = settings.authType;
  header[55] = settings.keyBlockCipher;
  header[56] = settings.noPassword.value_or(settings.password.empty() ? 1 : 0);
  storeU16(&header[766], settings.headerSignature);
  return header;
}

Bytes encodeKeyBlock(const ArchiveSettings& settings, std::uint32_t chainEntryCount) {
  Bytes block(disk::kKeyBlockSize);
  block[3] = settings.dataCipher;
  storeU32(&block[6], settings.statedChainEntryCount.value_or(chainEntryCount));
  const std::string digest = settings.passwordDigest.value_or(upperHexMd5(settings.password));
  std::copy_n(digest.begin(), std::min<std::size_t>(digest.size(), 32), block.begin() + 10);
  std::copy(settings.dataSalt.begin(), settings.dataSalt.end(), block.begin() + 42);
  storeU16(&block[206], settings.keyRecordSignature);
  storeU16(&block[254], settings.keyBlockEndSignature);
  applyPatches(block, settings.keyBlockPatches);
  block.resize(disk::kKeyBlockSize);
  return block;
}

std::string upperHexMd5(const Bytes& data) {
  CryptoPP::Weak::MD5 md5;
  CryptoPP::byte digest[CryptoPP::Weak::MD5::DIGESTSIZE];
  md5.Update(data.data(), data.size());
  md5.TruncatedFinal(digest, sizeof digest);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (CryptoPP::byte b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
  return out;
}

}  // namespace sorvel::testing
