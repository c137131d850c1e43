#pragma once
// The open archive seen as numbered, separately encrypted 16 KiB data blocks that a table of
// block numbers links into chains. Owns the parts and hands them out: the file and its stored
// bytes, the copies of header and key block, the chain table, the ciphers that decrypt blocks,
// and the cached reads of single blocks.
#include <cstddef>

#include "archive/ArchiveFile.h"
#include "archive/BlockDecryptor.h"
#include "archive/CachedBlockReader.h"
#include "archive/ChainTable.h"
#include "archive/MetadataCopies.h"

namespace sorvel {

class ContainerFile {
 public:
  explicit ContainerFile(std::size_t cacheCapacity = BlockCache::kDefaultCapacity)
      : blocks_(decryptor_, cacheCapacity) {}
  ContainerFile(const ContainerFile&) = delete;
  ContainerFile& operator=(const ContainerFile&) = delete;

  ArchiveFile& archiveFile() { return file_; }
  const ArchiveFile& archiveFile() const { return file_; }
  MetadataCopies& copies() { return copies_; }
  ChainTable& chainTable() { return chainTable_; }
  const ChainTable& chainTable() const { return chainTable_; }
  BlockDecryptor& decryptor() { return decryptor_; }
  const BlockDecryptor& decryptor() const { return decryptor_; }
  CachedBlockReader& blocks() { return blocks_; }
  const CachedBlockReader& blocks() const { return blocks_; }

 private:
  ArchiveFile file_;
  MetadataCopies copies_{file_};
  ChainTable chainTable_{file_};
  BlockDecryptor decryptor_{file_};
  CachedBlockReader blocks_;
};

}  // namespace sorvel
