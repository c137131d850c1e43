#pragma once
// The open archive seen as numbered, separately encrypted 16 KiB data blocks that a table of
// block numbers links into chains. Owns the parts and hands them out: the file and its stored
// bytes, the copies of header and key block, the chain table, and the ciphers that decrypt
// blocks.

#include "archive/ArchiveFile.h"
#include "archive/BlockDecryptor.h"
#include "archive/ChainTable.h"
#include "archive/MetadataCopies.h"

namespace sorvel {

class ContainerFile {
 public:
  ContainerFile() = default;
  ContainerFile(const ContainerFile&) = delete;
  ContainerFile& operator=(const ContainerFile&) = delete;

  ArchiveFile& archiveFile() { return file_; }
  const ArchiveFile& archiveFile() const { return file_; }
  MetadataCopies& copies() { return copies_; }
  ChainTable& chainTable() { return chainTable_; }
  const ChainTable& chainTable() const { return chainTable_; }
  BlockDecryptor& decryptor() { return decryptor_; }
  const BlockDecryptor& decryptor() const { return decryptor_; }

 private:
  ArchiveFile file_;
  MetadataCopies copies_{file_};
  ChainTable chainTable_{file_};
  BlockDecryptor decryptor_{file_};
};

}  // namespace sorvel
