// Reading every directory of an opened archive into the folder tree.
#include <deque>
#include <unordered_set>
#include <utility>

#include "archive/Archive.h"
#include "archive/ChainByteSource.h"
#include "tree/DirectoryParser.h"

namespace sorvel {
namespace {

// Keys longer than any path a host could create are not walked: on a hostile archive they would
// make the keys of a deep tree grow without bound.
constexpr std::size_t kMaxPathUnits = 32767;

}  // namespace

DirectoryRead Archive::readDirectory(std::uint32_t firstBlock, NameMap<ItemRecord>& out) {
  out.clear();
  ExtentList extents;
  const std::uint64_t capacity = container_.chainExtents(firstBlock, extents);
  ChainByteSource bytes(container_, extents, capacity);
  if (capacity == 0 || !bytes.readable()) return DirectoryRead::Unreadable;
  lastError_ = kErrorSuccess;
  if (parseDirectory(bytes, out)) return DirectoryRead::Complete;
  lastError_ = kErrorMalformedDirectory;
  return DirectoryRead::Malformed;
}

void Archive::buildPathMap(NameMap<ItemRecord>& out, NameMap<bool>& damagedFolders) {
  out.clear();
  damagedFolders.clear();
  // A directory chain is read once: a folder that leads back to a chain already read (its own
  // parent, say) would otherwise make the walk endless.
  std::unordered_set<std::uint32_t> chainsRead;
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
    if (result == DirectoryRead::Malformed) insertOrReplace(damagedFolders, path, true);

    for (auto& [name, record] : directory) {
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
