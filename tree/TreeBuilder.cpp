#include "tree/TreeBuilder.h"

#include <deque>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

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

}  // namespace

DirectoryRead TreeBuilder::readDirectory(std::uint32_t firstBlock, NameMap<ItemRecord>& out) {
  out.clear();
  // A directory ends where its chain runs into blocks another directory holds: directories that
  // share blocks would each read the others' items again, and a few blocks chained into one
  // another could stand for a tree that grows with the square of their number.
  ChainSource::Directory directory = chains_.openDirectory(firstBlock);
  if (directory.bytes == nullptr) return directory.cut ? DirectoryRead::Shared : DirectoryRead::Unreadable;
  lastError_ = kErrorSuccess;
  if (parseDirectory(*directory.bytes, out)) return directory.cut ? DirectoryRead::Shared : DirectoryRead::Complete;
  lastError_ = kErrorMalformedDirectory;
  return DirectoryRead::Malformed;
}

void TreeBuilder::buildPathMap(NameMap<ItemRecord>& out, NameMap<bool>& damagedFolders, std::vector<LeftOutItem>& leftOut) {
  out.clear();
  damagedFolders.clear();
  // A directory chain is read once: a folder that leads back to a chain already read (its own
  // parent, say) would otherwise make the walk endless.
  std::unordered_set<std::uint32_t> chainsRead;
  chains_.startTree();
  std::uint64_t keyUnitsLeft = kKeyUnitsBase + kKeyUnitsPerArchiveByte * chains_.archiveSize();
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
    const DirectoryRead result = readDirectory(block, directory);
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

void TreeBuilder::build(FolderTree& tree) {
  tree.clearTree();
  NameMap<ItemRecord> items;
  NameMap<bool> damagedFolders;
  std::vector<LeftOutItem> leftOut;
  buildPathMap(items, damagedFolders, leftOut);
  // Names that hold an unpaired surrogate, by folder, as they are written: with U+FFFD.
  std::map<std::pair<const SvFolder*, std::u16string>, std::u16string> writtenNames;
  for (const auto& [key, record] : items) {
    const std::u16string path = record.isFolder() ? key.substr(0, key.size() - 1) : key;
    const auto [folder, leaf] = tree.findParentFolder(path);
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
      tree.addFolder(key, record);
    } else {
      tree.addFile(key, record);
    }
  }
  for (const auto& [key, damaged] : damagedFolders) {
    FolderItemNode* node = tree.findNode(key);
    if (node != nullptr && node->isFolder()) static_cast<SvFolder*>(node)->damaged = true;
  }
  tree.setLeftOut(std::move(leftOut));
}

}  // namespace sorvel
