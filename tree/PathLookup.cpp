// Lookups, listings and content reads on the folder tree of an opened archive.
#include <deque>
#include <utility>

#include "archive/Archive.h"
#include "archive/ChainReader.h"

namespace sorvel {

bool Archive::findItem(std::u16string_view path, ItemRecord& out) const {
  const FolderItemNode* node = tree_.findNode(path);
  if (node == nullptr) return false;
  out = node->record;
  return true;
}

bool Archive::listChildren(std::u16string_view folderPath, NameMap<ItemRecord>& out) const {
  const FolderItemNode* node = tree_.findNode(folderPath);
  if (node == nullptr || !node->isFolder()) return false;
  out.clear();
  for (const auto& [name, child] : static_cast<const SvFolder*>(node)->children) {
    out.emplace_hint(out.end(), child->name, child->record);
  }
  return true;
}

void Archive::listItems(std::u16string_view folderPath, std::vector<std::u16string>& paths,
                        std::vector<DetailRecordRef>& details) {
  // Depth first with an explicit stack, so a deep tree cannot exhaust the call stack. Each level
  // lists the folder by its path, as a lookup from the root would.
  struct Level {
    std::u16string prefix;
    NameMap<ItemRecord> children;
    NameMap<ItemRecord>::iterator next;
  };
  std::deque<Level> stack;  // keeps each level in place while deeper ones are pushed
  auto descend = [&](std::u16string_view path) {
    Level level;
    if (!listChildren(path, level.children)) return;
    level.prefix = folderPrefix(path);
    stack.push_back(std::move(level));
    stack.back().next = stack.back().children.begin();
  };

  descend(folderPath);
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.children.end()) {
      stack.pop_back();
      continue;
    }
    const auto& [name, record] = *level.next++;
    if (compareNames(name, kDetailFileName) == 0) continue;
    std::u16string path = level.prefix + name;
    details.push_back(detailRecordFor(path));
    paths.push_back(path);
    if (record.isFolder()) descend(path);
  }
}

std::uint64_t Archive::readContent(std::u16string_view path, Bytes& out) {
  ItemRecord record;
  if (!findItem(path, record)) return 0;
  out.clear();
  if (record.size() == 0) return 0;
  out.assign(record.size(), 0);
  ChainReader reader(container_, record.firstBlock(), record.size());
  std::uint64_t done = 0;
  while (done < out.size()) {
    const std::size_t n = reader.read(out.data() + done, out.size() - done);
    if (n == 0) break;
    done += n;
  }
  if (done == 0) out.clear();
  return done;
}

bool Archive::isDamagedFolder(std::u16string_view path) const {
  const FolderItemNode* node = tree_.findNode(path);
  return node != nullptr && node->isFolder() && static_cast<const SvFolder*>(node)->damaged;
}

}  // namespace sorvel
