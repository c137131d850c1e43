// Reading every directory of an opened archive into the folder tree.
#include <deque>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "archive/ChainByteSource.h"
#include "tree/DirectoryParser.h"

namespace sorvel {
namespace {

// Keys longer than any path a host could create are not walked: on a hostile archive they would
// make the keys of a deep tree grow without bound.
constexpr std::size_t kMaxPathUnits = 32767;

// All keys together hold at most this many units, plus so many per byte of the archive file.
// An archive spends at least 96 bytes of directory on each item, so only paths averaging
// hundreds of units come near; a hostile one, whose every item sits below a path of 32767 units,
// would otherwise turn each byte into hundreds of bytes of keys.
constexpr std::uint64_t kKeyUnitsBase = std::uint64_t{16} << 20;
constexpr std::uint64_t kKeyUnitsPerArchiveByte = 8;

// Cuts the extents before the first block another directory holds; true when that cut anything.
bool cutAtClaimed(ExtentList& extents, const std::vector<bool>& claimed) {
  for (std::size_t i = 0; i < extents.size(); ++i) {
    Extent& e = extents[i];
    for (std::uint64_t b = e.first; b < e.first + e.blockCount(); ++b) {
      if (b >= claimed.size() || !claimed[b]) continue;
      if (b == e.first) {
        extents.resize(i);
      } else {
        e.last = static_cast<std::uint32_t>(b - 1);
        extents.resize(i + 1);
      }
      return true;
    }
  }
  return false;
}

void claim(const ExtentList& extents, std::vector<bool>& claimed) {
  for (const Extent& e : extents) {
    for (std::uint64_t b = e.first; b < e.first + e.blockCount(); ++b) {
      if (b < claimed.size()) claimed[b] = true;
    }
  }
}

}  // namespace

DirectoryRead Archive::readDirectory(std::uint32_t firstBlock, NameMap<ItemRecord>& out,
                                     std::vector<bool>* claimedBlocks) {
  out.clear();
  ExtentList extents;
  std::uint64_t capacity = container_.chainExtents(firstBlock, extents);
  if (capacity == 0) return DirectoryRead::Unreadable;
  // A directory ends where its chain runs into blocks another directory holds: directories that
  // share blocks would each read the others' items again, and a few blocks chained into one
  // another could stand for a tree that grows with the square of their number.
  bool shared = false;
  if (claimedBlocks != nullptr && cutAtClaimed(extents, *claimedBlocks)) {
    shared = true;
    capacity = capacityOf(extents);
    if (capacity == 0) return DirectoryRead::Shared;
  }
  ChainByteSource bytes(container_, extents, capacity);
  if (!bytes.readable()) return DirectoryRead::Unreadable;
  if (claimedBlocks != nullptr) claim(extents, *claimedBlocks);
  lastError_ = kErrorSuccess;
  if (parseDirectory(bytes, out)) return shared ? DirectoryRead::Shared : DirectoryRead::Complete;
  lastError_ = kErrorMalformedDirectory;
  return DirectoryRead::Malformed;
}

void Archive::buildPathMap(NameMap<ItemRecord>& out, NameMap<bool>& damagedFolders) {
  out.clear();
  damagedFolders.clear();
  // A directory chain is read once: a folder that leads back to a chain already read (its own
  // parent, say) would otherwise make the walk endless.
  std::unordered_set<std::uint32_t> chainsRead;
  std::vector<bool>& claimedBlocks = directoryBlocks_;
  claimedBlocks.assign(container_.chainTableSize(), false);
  std::uint64_t keyUnitsLeft = kKeyUnitsBase + kKeyUnitsPerArchiveByte * container_.fileSize();
  std::deque<std::pair<std::uint32_t, std::u16string>> queue;
  queue.emplace_back(kRootDirectoryBlock, kRootPath);
  NameMap<ItemRecord> directory;
  while (!queue.empty()) {
    auto [block, path] = std::move(queue.front());
    queue.pop_front();
    if (chainsRead.contains(block)) {
      insertOrReplace(damagedFolders, path, true);
      continue;
    }
    const DirectoryRead result = readDirectory(block, directory, &claimedBlocks);
    if (result != DirectoryRead::Unreadable) chainsRead.insert(block);
    if (result == DirectoryRead::Malformed || result == DirectoryRead::Shared) insertOrReplace(damagedFolders, path, true);

    for (auto& [name, record] : directory) {
      if (path.size() + name.size() + 1 > keyUnitsLeft) {  // the rest of this folder is left out
        insertOrReplace(damagedFolders, path, true);
        break;
      }
      keyUnitsLeft -= path.size() + name.size() + 1;
      std::u16string key = path + name;
      if (record.isFolder()) {
        key.push_back(u'\\');
        if (key.size() > kMaxPathUnits) {
          insertOrReplace(damagedFolders, key, true);
        } else {
          queue.emplace_back(record.firstBlock(), key);
        }
      }
      insertOrReplace(out, key, std::move(record));
    }
  }
}

bool Archive::rebuildTree() {
  tree_.clearTree();
  NameMap<ItemRecord> items;
  NameMap<bool> damagedFolders;
  buildPathMap(items, damagedFolders);
  for (const auto& [key, record] : items) {
    if (record.isFolder()) {
      tree_.addFolder(key, record);
    } else {
      tree_.addFile(key, record);
    }
  }
  for (const auto& [key, damaged] : damagedFolders) {
    FolderItemNode* node = tree_.findNode(key);
    if (node != nullptr && node->isFolder()) static_cast<SvFolder*>(node)->damaged = true;
  }
  return true;
}

}  // namespace sorvel
