#include "archive/ArchiveFile.h"

#include <cstring>
#include <utility>

namespace sorvel {

bool ArchiveFile::openFile(const std::string& path) {
  ReadOnlyFile file;
  if (!file.open(path)) return false;
  return adoptFile(std::move(file));
}

bool ArchiveFile::adoptFile(ReadOnlyFile file) {
  file_ = std::move(file);
  fileSize_ = file_.size().value_or(0);
  return file_.isOpen();
}

void ArchiveFile::closeFile() {
  file_.close();
  fileSize_ = 0;
}

bool ArchiveFile::readStoredBlocks(std::uint32_t first, std::uint64_t length, std::uint8_t* stored) const {
  if (!isOpen() || first < kFirstDataBlock) return false;
  if (first + (length + kBlockSize - 1) / kBlockSize > std::uint64_t{UINT32_MAX} + 1) return false;
  const std::size_t got = file_.readAt(blockOffset(first), stored, length);
  std::memset(stored + got, 0, length - got);
  return true;
}

}  // namespace sorvel
