#include "support/ArchiveSealer.h"

#include <algorithm>

namespace sorvel::testing {

ArchiveSealer::ArchiveSealer(const ArchiveSettings& settings) : encrypting_(!settings.password.empty()) {
  if (!encrypting_) return;
  keyBlockCipher_.setType(settings.keyBlockCipher);
  keyBlockCipher_.setKey(settings.password);
  keyBlockCipher_.setSalt(settings.keySalt.data(), settings.keySalt.size());
  dataCipher_.setType(settings.dataCipher);
  dataCipher_.setKey(settings.password);
  dataCipher_.setSalt(settings.dataSalt.data(), settings.dataSalt.size());
}

Bytes ArchiveSealer::sealKeyBlock(const Bytes& plain) const {
  if (!encrypting_) return plain;
  std::optional<Bytes> sealed = keyBlockCipher_.encrypt(plain.data(), plain.size(), 0);
  if (!sealed || sealed->size() < plain.size()) return plain;
  sealed->resize(plain.size());
  return *sealed;
}

void ArchiveSealer::sealBlock(std::uint8_t* data, std::uint32_t block) const {
  if (!encrypting_) return;
  std::optional<Bytes> sealed = dataCipher_.encrypt(data, disk::kBlockSize, block);
  if (!sealed || sealed->size() < disk::kBlockSize) return;
  std::copy_n(sealed->begin(), disk::kBlockSize, data);
}

}  // namespace sorvel::testing
