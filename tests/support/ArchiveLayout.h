#pragma once
// Where a built test archive keeps what: the data area, each item's block chain and the place of
// its directory group, so that a test can find or damage raw bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/ArchiveDescription.h"

namespace sorvel::testing {

// The path without the backslashes it may begin with: how items are named in a layout.
std::u16string_view withoutLeadingSeparators(std::u16string_view path);

struct ItemLayout {
  std::u16string path;  // as the item was added; the root is ""
  BlockList blocks;     // a file's content chain or a folder's directory chain
  std::uint32_t storedFirstBlock = 0;
  std::optional<std::size_t> parent;  // index into ArchiveLayout::items; none for the root's children
  // Offsets inside the parent's directory content; none when the parent's directory is raw.
  std::optional<std::uint64_t> groupOffset;
  std::optional<std::uint64_t> itemEntryOffset;
};

struct ArchiveLayout {
  std::uint32_t chainEntryCount = 0;
  std::uint64_t dataStart = 0;
  std::uint32_t highestBlock = 0;  // highest block any chain uses; 0 when none
  std::uint32_t lastBlock = 0;     // as stored in the header
  std::uint64_t fileSize = 0;
  std::vector<std::uint32_t> chainTable;  // as written, overrides included
  ItemLayout root;
  std::vector<ItemLayout> items;  // in the order the items were added

  std::uint64_t blockOffset(std::uint32_t block) const {
    return dataStart + (std::uint64_t{block} - 2) * disk::kBlockSize;
  }

  // The item added under `path` (the first, if several were); the root for "" or "\\".
  const ItemLayout* find(std::u16string_view path) const;

  // The directory chain that holds an item's group.
  const BlockList& parentBlocks(const ItemLayout& item) const;

  // The file offset of byte `offset` of the data a chain holds; none past the chain's end.
  std::optional<std::uint64_t> fileOffset(const BlockList& chain, std::uint64_t offset) const;

  // The file offset of an item's ItemEntry; none when it has no encoded group.
  std::optional<std::uint64_t> itemEntryFileOffset(std::u16string_view path) const;
};

}  // namespace sorvel::testing
