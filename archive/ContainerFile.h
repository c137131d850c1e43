#pragma once
// The open archive file seen as numbered, separately encrypted 16 KiB data blocks that a table
// of block numbers links into chains. Owns the copies of header, key block and chain table, the
// block cache and the two cipher contexts.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/ArchiveHeader.h"
#include "archive/BlockCache.h"
#include "archive/Extent.h"
#include "crypto/CipherContext.h"
#include "crypto/KeyBlock.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

// The chain table: one 32-bit entry per block number from this file offset on, the data blocks
// after it (docs/FORMAT.md, "Chain table" and "Blocks").
inline constexpr std::uint64_t kChainTableOffset = 1024;

// Chain table entries: 0 marks a free block, 1 the last block of a chain, anything else the next.
inline constexpr std::uint32_t kFreeBlock = 0;
inline constexpr std::uint32_t kEndOfChain = 1;

class ContainerFile {
 public:
  explicit ContainerFile(std::size_t cacheCapacity = BlockCache::kDefaultCapacity);
  ~ContainerFile();
  ContainerFile(const ContainerFile&) = delete;
  ContainerFile& operator=(const ContainerFile&) = delete;

  CipherContext keyBlockCipher;
  CipherContext dataCipher;

  bool openFile(const std::string& path);
  // Takes over an archive file already open; false when it is not.
  bool adoptFile(ReadOnlyFile file);
  const ReadOnlyFile& file() const { return file_; }
  void closeFile();
  bool isOpen() const { return file_.isOpen(); }
  std::uint64_t fileSize() const { return fileSize_; }

  // Metadata, loaded once when the archive is opened.
  void resetCopies();
  void markHeaderStale() { headerStale_ = true; }
  bool readHeader(std::uint8_t* out);  // kArchiveHeaderSize bytes; always true
  bool loadKeyBlock();
  const std::array<std::uint8_t, kKeyBlockSize>& keyBlock() const { return keyBlock_; }
  void resizeChainTable(std::uint32_t count);
  void markTableStale() { tableStale_ = true; }
  void loadChainTable();
  std::size_t chainTableSize() const { return chainTable_.size(); }
  std::uint32_t chainEntry(std::uint32_t block) const { return block < chainTable_.size() ? chainTable_[block] : 0; }
  std::uint64_t dataStart() const { return kChainTableOffset + 4 * static_cast<std::uint64_t>(chainTable_.size()); }
  std::uint64_t blockOffset(std::uint32_t block) const {
    return dataStart() + (static_cast<std::uint64_t>(block) - kFirstDataBlock) * kBlockSize;
  }

  // The runs of the chain that starts at `firstBlock`, and their bytes. A chain that starts on a
  // free block gives nothing; one that reaches a free entry keeps only the runs closed before it.
  // A chain that names a block outside the table or comes back to a block it has passed is
  // broken: nothing, capacity 0.
  std::uint64_t chainExtents(std::uint32_t firstBlock, ExtentList& out);

  // How a file's content chain was planned by planContent: where its blocks stop short of the
  // wanted bytes, and why.
  enum class ContentEnd {
    Whole,    // every wanted byte has a block
    Short,    // the chain ends (or reaches a free entry) first
    Missing,  // the next block lies wholly past the end of the file: the file was cut off
    Claimed,  // the next block belongs to a directory or to an earlier file
    Broken,   // the chain names a block outside the table or comes back to one it passed
  };
  struct ContentChain {
    ExtentList extents;       // the blocks to read, in chain order
    std::uint64_t bytes = 0;  // of the wanted bytes, those the extents deliver (0 when broken)
    ContentEnd end = ContentEnd::Whole;
  };
  // The blocks of the chain at `firstBlock` that hold the first `wanted` bytes of a file, as
  // chainExtents would give them, except that the chain ends before the first
  // block that `claimed` flags or the file does not store at all. Every block the walk passes is
  // flagged, so no two files are ever given the same block. `claimed` has one flag per
  // chain-table entry.
  ContentChain planContent(std::uint32_t firstBlock, std::uint64_t wanted, std::vector<bool>& claimed);

  // Cuts the extents before the first block that lies wholly past the end of the file and
  // answers their capacity: the part of a chain whose bytes the file actually stores.
  std::uint64_t storedPrefix(ExtentList& extents) const;

  // One decrypted block, through the cache.
  bool readBlock(std::uint32_t block, std::uint8_t* dst);

  // Reads and decrypts `count` consecutive blocks from `first` into `dst`, bypassing the cache:
  // content read once has no business evicting directories. Bytes past the end of the file are
  // zeros before decryption. Of the last block only the first `lastBlockBytes` are wanted; only
  // they are read and decrypted (see decryptStoredBlock).
  bool readBlocksUncached(std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                          std::size_t lastBlockBytes = kBlockSize) const;

  // The two halves of readBlocksUncached, for callers that read runs of blocks at once and
  // decrypt them piece by piece. `stored` receives `length` bytes of the data area from the
  // start of block `first` (zeros past the end of the file).
  bool readStoredBlocks(std::uint32_t first, std::uint64_t length, std::uint8_t* stored) const;
  // Decrypts the first `wanted` bytes of stored block `block` into `dst`. The ciphers work on
  // 16-byte units that decrypt the same whether or not the rest of the block follows, so only
  // `wanted` rounded up to a multiple of 16 bytes is decrypted and written (all 16384 when
  // `wanted` is 0 or more than a block).
  bool decryptStoredBlock(const std::uint8_t* stored, std::uint8_t* dst, std::size_t wanted,
                          std::uint32_t block) const;
  static std::size_t decryptedLength(std::size_t wanted);

  const BlockCache& cache() const { return cache_; }
  std::uint64_t blockDecryptions() const { return blockDecryptions_; }

 private:
  // A decrypted block as held by the cache (valid until the next cache operation), or null.
  const BlockCache::Block* cachedBlock(std::uint32_t block);
  bool loadBlock(std::uint32_t block);

  ReadOnlyFile file_;
  std::uint64_t fileSize_ = 0;
  std::array<std::uint8_t, kArchiveHeaderSize> header_{};
  bool headerStale_ = false;
  std::array<std::uint8_t, kKeyBlockSize> keyBlock_{};
  std::vector<std::uint32_t> chainTable_;
  bool tableStale_ = false;
  std::uint32_t startWalk();
  // Per block, the walk that last passed it: finds loops without clearing a table per walk.
  std::vector<std::uint32_t> visitedBy_;
  std::uint32_t walkNumber_ = 0;
  BlockCache cache_;
  std::uint64_t blockDecryptions_ = 0;
};

}  // namespace sorvel
