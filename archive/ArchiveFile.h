#pragma once
// The open archive file and the bytes it stores. The data blocks lie one after another from the
// end of the chain table on (docs/FORMAT.md, "Blocks"); a block the file is too short for reads
// as zeros, and a block that lies wholly past its end is not stored at all.
#include <cstdint>
#include <string>

#include "archive/Extent.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

class ArchiveFile {
 public:
  bool openFile(const std::string& path);
  // Takes over an archive file already open; false when it is not.
  bool adoptFile(ReadOnlyFile file);
  void closeFile();
  bool isOpen() const { return file_.isOpen(); }
  const ReadOnlyFile& file() const { return file_; }
  std::uint64_t fileSize() const { return fileSize_; }

  // Where the data blocks begin: set from the chain table's length (ChainTable::resizeChainTable).
  void setDataStart(std::uint64_t offset) { dataStart_ = offset; }
  std::uint64_t dataStart() const { return dataStart_; }
  std::uint64_t blockOffset(std::uint32_t block) const {
    return dataStart_ + (static_cast<std::uint64_t>(block) - kFirstDataBlock) * kBlockSize;
  }
  // The first block number from which on no block has a byte in the file.
  std::uint64_t firstBlockPastEnd() const {
    return fileSize_ <= dataStart_ ? kFirstDataBlock : (fileSize_ - dataStart_ - 1) / kBlockSize + kFirstDataBlock + 1;
  }

  // `length` bytes of the data area from the start of block `first` into `stored`, zeros past
  // the end of the file; false when the file is not open or the blocks cannot exist.
  bool readStoredBlocks(std::uint32_t first, std::uint64_t length, std::uint8_t* stored) const;

 private:
  ReadOnlyFile file_;
  std::uint64_t fileSize_ = 0;
  std::uint64_t dataStart_ = 0;
};

}  // namespace sorvel
