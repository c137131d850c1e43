#pragma once
// The one object through which the front end works on an archive: it checks the password,
// opens the archive and has its folder tree built, and answers lookups, listings and content
// reads. It joins a container to a tree: the tree is read through the container's chains
// (TreeBuilder, DetailLookup) and looked up by PathLookup.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ContainerChains.h"
#include "archive/ContainerFile.h"
#include "base/Bytes.h"
#include "base/LastError.h"
#include "tree/DetailLookup.h"
#include "tree/FolderTree.h"
#include "tree/ItemRecord.h"
#include "tree/NameRules.h"
#include "tree/PathLookup.h"
#include "tree/TreeBuilder.h"

namespace sorvel {

// Left by open() when the header, key block or chain table is refused (see base/LastError.h).
inline constexpr std::uint32_t kErrorHeaderRefused = 467;

class Archive {
 public:
  Archive();
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

  // Lookups on the tree built by open() (see PathLookup).
  bool findItem(std::u16string_view path, ItemRecord& out) const { return paths_.findItem(path, out); }
  bool listChildren(std::u16string_view folderPath, NameMap<ItemRecord>& out) const {
    return paths_.listChildren(folderPath, out);
  }
  bool isDamagedFolder(std::u16string_view path) const { return paths_.isDamagedFolder(path); }
  void listItems(std::u16string_view folderPath, std::vector<std::u16string>& paths,
                 std::vector<DetailRecordRef>& details, std::vector<const ItemRecord*>* records = nullptr) {
    paths_.listItems(folderPath, details_, paths, details, records);
  }
  using ListedItem = sorvel::ListedItem;
  void listForExtraction(std::u16string_view folderPath, std::vector<ListedItem>& out) const {
    paths_.listForExtraction(folderPath, out);
  }
  std::u16string listedPath(std::u16string_view folderPath, const ListedItem& item) const {
    return paths_.listedPath(folderPath, item);
  }
  const ItemRecord& listedRecord(const ListedItem& item) const { return paths_.listedRecord(item); }
  // The item's record in its folder's item detail file, or null (see DetailLookup).
  DetailRecordRef detailRecordFor(std::u16string_view itemPath) { return details_.detailRecordFor(itemPath); }

  // The whole content of a file into `out` (exactly `size` bytes, zero beyond what the chain
  // holds); the count read, 0 when nothing could be read or the size is 0.
  std::uint64_t readContent(std::u16string_view path, Bytes& out);

  // One flag per chain-table entry: the blocks the tree's directories were read from.
  const std::vector<bool>& directoryBlocks() const { return chains_.directoryBlocks(); }

  ContainerFile& container() { return container_; }
  // The folder tree built by open(), with the items it had to leave out.
  const FolderTree& tree() const { return tree_; }
  const std::u16string& currentFolder() const { return currentFolder_; }
  std::uint32_t lastError() const { return lastError_; }
  std::uint64_t detailTableLoads() const { return details_.loads(); }

 private:
  bool refuseOpen(std::uint32_t error);

  std::uint32_t lastError_ = kErrorSuccess;
  ContainerFile container_;
  ContainerChains chains_{container_};
  std::u16string currentFolder_ = kRootPath;
  FolderTree tree_;
  PathLookup paths_{tree_};
  DetailLookup details_{chains_, paths_, lastError_};
};

}  // namespace sorvel
