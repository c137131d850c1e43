#include "tree/TreeBuilder.h"

#include <deque>
#include <unordered_set>
#include <utility>
#include <vector>

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

void TreeBuilder::buildPathMap(NameMap<ItemRecord>& out, NameMap<bool>& damagedFolders) {
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

void TreeBuilder::build(FolderTree& tree) {
  tree.clearTree();
  NameMap<ItemRecord> items;
  NameMap<bool> damagedFolders;
  buildPathMap(items, damagedFolders);
  for (const auto& [key, record] : items) {
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
}

}  // namespace sorvel
