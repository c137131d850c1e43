// Reading every directory of an opened archive into the folder tree.
#include <deque>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "archive/ChainByteSource.h"
#include "platform/Utf16.h"
#include "tree/DetailTable.h"
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

void Archive::buildPathMap(NameMap<ItemRecord>& out, NameMap<bool>& damagedFolders, std::vector<LeftOutItem>& leftOut) {
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
      if (name.empty()) {  // its key would be its folder's own
        leftOut.push_back({LeftOutItem::Why::UnsafeName, path, {}, path});
        continue;
      }
      std::u16string key = path + name;
      if (record.isFolder()) key.push_back(u'\\');
      // A name holding a backslash can spell the key of an item read before. (Within one
      // directory, names alike but for ASCII letter case are one item, spelled as the first with
      // the last one's record: that is how such archives have always come out.)
      if (auto held = out.find(key); held != out.end()) {
        if (compareNames(leafName(path + name), kDetailFileName) != 0) {
          leftOut.push_back({LeftOutItem::Why::SameName, path + name, stripTrailingSeparators(held->first), path});
        }
        continue;
      }
      if (record.isFolder()) {
        if (key.size() > kMaxPathUnits) {
          insertOrReplace(damagedFolders, key, true);
        } else {
          queue.emplace_back(record.firstBlock(), key);
        }
      }
      out.emplace(std::move(key), std::move(record));
    }
  }
}

bool Archive::rebuildTree() {
  tree_.clearTree();
  NameMap<ItemRecord> items;
  NameMap<bool> damagedFolders;
  std::vector<LeftOutItem> leftOut;
  buildPathMap(items, damagedFolders, leftOut);
  // Names that hold an unpaired surrogate, by folder, as they are written: with U+FFFD.
  std::map<std::pair<const SvFolder*, std::u16string>, std::u16string> writtenNames;
  for (const auto& [key, record] : items) {
    const std::u16string path = record.isFolder() ? key.substr(0, key.size() - 1) : key;
    const auto [folder, leaf] = tree_.findParentFolder(path);
    if (folder == nullptr) {
      // A stored name with a backslash may point into a folder that is not there. Anything
      // else is below a folder left out, and goes with it.
      const std::u16string name = assembleName(record.nameEntries);
      if (name.find(u'\\') != std::u16string::npos) {
        leftOut.push_back({LeftOutItem::Why::UnsafeName, path, {}, path.substr(0, path.size() - name.size())});
      }
      continue;
    }
    std::u16string_view named = path;  // without the backslashes a stored name may end with
    while (!named.empty() && named.back() == u'\\') named.remove_suffix(1);
    if (leaf.empty()) {  // a name of backslashes alone
      leftOut.push_back({LeftOutItem::Why::UnsafeName, path, {}, std::u16string(named)});
      continue;
    }
    const std::u16string folderPath(named.substr(0, named.size() - leaf.size()));
    const std::u16string written = toUtf16(toUtf8Lossy(leaf));
    std::u16string namesake;
    if (auto held = folder->children.find(leaf); held != folder->children.end()) {
      namesake = folderPath + held->second->name;
    } else if (auto same = writtenNames.find({folder, written}); same != writtenNames.end()) {
      namesake = same->second;
    } else if (written != leaf) {
      if (auto plain = folder->children.find(written); plain != folder->children.end() && plain->second->name == written) {
        namesake = folderPath + plain->second->name;
      }
    }
    if (!namesake.empty()) {
      if (compareNames(leaf, kDetailFileName) != 0) {
        leftOut.push_back({LeftOutItem::Why::SameName, path, namesake, folderPath});
      }
      continue;
    }
    if (written != leaf) writtenNames.emplace(std::make_pair(folder, written), path);
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
  tree_.setLeftOut(std::move(leftOut));
  return true;
}

}  // namespace sorvel
