#include "archive/BlockDecryptor.h"

namespace sorvel {

std::size_t BlockDecryptor::decryptedLength(std::size_t wanted) {
  constexpr std::size_t kUnit = 16;
  if (wanted == 0 || wanted >= kBlockSize) return kBlockSize;
  return (wanted + kUnit - 1) / kUnit * kUnit;
}

bool BlockDecryptor::decryptStoredBlock(const std::uint8_t* stored, std::uint8_t* dst, std::size_t wanted,
                                        std::uint32_t block) const {
  return dataCipher_.decryptInto(stored, dst, decryptedLength(wanted), block);
}

bool BlockDecryptor::readBlocksUncached(std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                                        std::size_t lastBlockBytes) const {
  if (count == 0) return file_.isOpen() && first >= kFirstDataBlock;
  // Read straight into place and decrypted there: no staging copy.
  const std::uint64_t length = std::uint64_t{count - 1} * kBlockSize + decryptedLength(lastBlockBytes);
  if (!file_.readStoredBlocks(first, length, dst)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t* block = dst + std::uint64_t{i} * kBlockSize;
    if (!decryptStoredBlock(block, block, i + 1 == count ? lastBlockBytes : kBlockSize, first + i)) return false;
  }
  return true;
}

}  // namespace sorvel
