#include "support/ArchiveLayout.h"

namespace sorvel::testing {

std::u16string_view withoutLeadingSeparators(std::u16string_view path) {
  while (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  return path;
}

const ItemLayout* ArchiveLayout::find(std::u16string_view path) const {
  path = withoutLeadingSeparators(path);
  if (path.empty()) return &root;
  for (const auto& item : items) {
    if (item.path == path) return &item;
  }
  return nullptr;
}

const BlockList& ArchiveLayout::parentBlocks(const ItemLayout& item) const {
  return item.parent ? items[*item.parent].blocks : root.blocks;
}

std::optional<std::uint64_t> ArchiveLayout::fileOffset(const BlockList& chain, std::uint64_t offset) const {
  const std::uint64_t index = offset / disk::kBlockSize;
  if (index >= chain.size()) return std::nullopt;
  return blockOffset(chain[index]) + offset % disk::kBlockSize;
}

std::optional<std::uint64_t> ArchiveLayout::itemEntryFileOffset(std::u16string_view path) const {
  const ItemLayout* item = find(path);
  if (item == nullptr || item == &root || !item->itemEntryOffset) return std::nullopt;
  return fileOffset(parentBlocks(*item), *item->itemEntryOffset);
}

}  // namespace sorvel::testing
