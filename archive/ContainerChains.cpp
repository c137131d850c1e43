#include "archive/ContainerChains.h"

#include "archive/TableReader.h"

namespace sorvel {
namespace {

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

void ContainerChains::startTree() { directoryBlocks_.assign(container_.chainTable().chainTableSize(), false); }

ChainSource::Directory ContainerChains::openDirectory(std::uint32_t firstBlock) {
  Directory directory;
  ExtentList extents;
  std::uint64_t capacity = container_.chainTable().chainExtents(firstBlock, extents);
  if (capacity == 0) return directory;
  const bool cut = cutAtClaimed(extents, directoryBlocks_);
  if (cut) {
    capacity = capacityOf(extents);
    if (capacity == 0) {
      directory.cut = true;
      return directory;
    }
  }
  auto bytes = std::make_unique<TableReader>(container_.decryptor(), extents, capacity);
  if (!bytes->readable()) return directory;
  claim(extents, directoryBlocks_);
  directory.cut = cut;
  directory.bytes = std::move(bytes);
  return directory;
}

std::unique_ptr<ByteSource> ContainerChains::openStored(std::uint32_t firstBlock) {
  ExtentList extents;
  container_.chainTable().chainExtents(firstBlock, extents);
  const std::uint64_t capacity = container_.chainTable().storedPrefix(extents);
  auto bytes = std::make_unique<TableReader>(container_.decryptor(), extents, capacity);
  if (capacity == 0 || !bytes->readable()) return nullptr;
  return bytes;
}

}  // namespace sorvel
