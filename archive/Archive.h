#pragma once
// The one object through which the front end works on an archive: it checks the password,
// opens the archive and builds its folder tree, and answers lookups, listings and content reads.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ContainerFile.h"
#include "base/Bytes.h"
#include "tree/DetailCache.h"
#include "tree/FolderTree.h"
#include "tree/ItemRecord.h"
#include "tree/NameRules.h"

namespace sorvel {

// Last-error codes left by the archive's operations; nothing reads them back but tests.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorHeaderRefused = 467;
inline constexpr std::uint32_t kErrorMalformedDirectory = 550;
inline constexpr std::uint32_t kErrorMalformedDetailTable = 551;

// How reading one folder's directory went. Shared: its chain runs into blocks that another
// directory holds, which no sound archive does; the items before them were read.
enum class DirectoryRead { Complete, Unreadable, Malformed, Shared };

class Archive {
 public:
  explicit Archive(std::size_t blockCacheCapacity = BlockCache::kDefaultCapacity);
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  // True when the password fits the key block; keys both cipher contexts for open().
  bool checkPassword(const std::string& archivePath, const Bytes& passwordBytes);
  // Opens the archive read-only, checks header, key block and chain table, builds the tree.
  bool open(const std::string& archivePath);
  // The same two steps on an archive file the caller opened once: everything is read through
  // it, whatever happens to the name meanwhile. `attach` takes it over (false when not open).
  bool attach(ReadOnlyFile file);
  bool checkPassword(const Bytes& passwordBytes);
  bool open();

  // Lookups on the tree built by open().
  bool findItem(std::u16string_view path, ItemRecord& out) const;
  bool listChildren(std::u16string_view folderPath, NameMap<ItemRecord>& out) const;
  // Every item below the folder, depth first, a folder before its contents, siblings in name
  // order, item detail files left out; with each item's detail record or null, and, when asked,
  // each item's record as the tree holds it (what findItem would copy).
  void listItems(std::u16string_view folderPath, std::vector<std::u16string>& paths,
                 std::vector<DetailRecordRef>& details, std::vector<const ItemRecord*>* records = nullptr);
  // Every item below the folder in the order of listItems, each folder's item detail file
  // included and flagged: the order in which extraction gives blocks to files. No detail record
  // is fetched.
  struct ListedItem {
    std::u16string path;
    const ItemRecord* record;  // in the tree
    bool detailFile;
  };
  void listForExtraction(std::u16string_view folderPath, std::vector<ListedItem>& out) const;
  // The whole content of a file into `out` (exactly `size` bytes, zero beyond what the chain
  // holds); the count read, 0 when nothing could be read or the size is 0.
  std::uint64_t readContent(std::u16string_view path, Bytes& out);
  // True for a folder whose directory could not be trusted, read only in part or not at all.
  bool isDamagedFolder(std::u16string_view path) const;

  // Directory reading and tree building, run by open(). With `claimedBlocks` (one flag per chain
  // table entry), the directory ends before the first flagged block of its chain, and the blocks
  // it reads are flagged.
  DirectoryRead readDirectory(std::uint32_t firstBlock, NameMap<ItemRecord>& out,
                              std::vector<bool>* claimedBlocks = nullptr);
  bool rebuildTree();

  // The item detail file of each folder.
  bool findFile(std::u16string_view path, ItemRecord& out) const;
  std::uint32_t detailFileBlock(std::u16string_view folderPath) const;
  bool loadDetailTable(std::uint32_t block, DetailTable& out);
  DetailTableRef fetchDetailTable(std::uint32_t block);
  DetailTableRef detailTableOf(std::u16string_view folderPath);
  DetailRecordRef detailRecordFor(std::u16string_view itemPath);

  // One flag per chain-table entry: the blocks the tree's directories were read from.
  const std::vector<bool>& directoryBlocks() const { return directoryBlocks_; }

  ContainerFile& container() { return container_; }
  const FolderTree& tree() const { return tree_; }
  const std::u16string& currentFolder() const { return currentFolder_; }
  std::uint32_t lastError() const { return lastError_; }
  std::uint64_t detailTableLoads() const { return detailTableLoads_; }

 private:
  void buildPathMap(NameMap<ItemRecord>& out, NameMap<bool>& damagedFolders);
  bool refuseOpen(std::uint32_t error);

  ContainerFile container_;
  std::u16string currentFolder_ = kRootPath;
  FolderTree tree_;
  std::vector<bool> directoryBlocks_;
  DetailCache detailCache_;
  std::uint32_t lastError_ = kErrorSuccess;
  std::uint64_t detailTableLoads_ = 0;
};

}  // namespace sorvel
