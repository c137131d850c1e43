#pragma once
// The items of an opened archive as the library shows them: their facts, read from the output
// plan every program reads, and for each file the blocks its content is read from.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/ShownPath.h"
#include "archive/Archive.h"
#include "archive/Extent.h"
#include "sorvel/sorvel.h"
#include "tree/NameRules.h"

namespace sorvel::lib {

class ItemTable {
 public:
  // Where a file item's content lies: its runs of blocks and, per run, the index in the file of
  // its first block (held by the table).
  struct Content {
    const Extent* extents = nullptr;
    const std::uint64_t* starts = nullptr;
    std::size_t runs = 0;
  };

  // Plans the whole archive (open, its tree built).
  void build(Archive& archive);

  const std::vector<api::ItemInfo>& items() const { return items_; }
  Content contentOf(std::size_t index) const {
    const std::size_t first = firstRun_[index];
    return {extents_.data() + first, starts_.data() + first, firstRun_[index + 1] - first};
  }
  const std::u16string& storedPathOf(std::size_t index) const { return archivePaths_[index]; }
  // Why the item is left out, a path in the reason shown in `style` (items() show PathStyle::Archive).
  std::string leftOutReason(std::size_t index, PathStyle style) const;
  // Whether the root folder's directory is damaged (the root is no item).
  bool rootDamaged() const { return rootDamaged_; }
  // The index of the item at a path as ItemInfo gives it ("docs/a.txt"), or nothing.
  std::optional<std::size_t> find(std::string_view path) const;

  // The archive block holding byte `offset` of the file's content, and how many blocks from it
  // on follow in the same run.
  struct BlockRun {
    std::uint32_t block = 0;
    std::uint64_t count = 0;
  };
  static BlockRun runAt(const Content& content, std::uint64_t offset);

 private:
  std::vector<api::ItemInfo> items_;
  // Every file's runs, one after the other: item i's are [firstRun_[i], firstRun_[i + 1]).
  std::vector<Extent> extents_;
  std::vector<std::uint64_t> starts_;
  std::vector<std::size_t> firstRun_;
  std::vector<std::u16string> archivePaths_;
  std::vector<std::size_t> byPath_;  // the items' indices in order of their paths (compareNames)
  std::vector<std::pair<std::size_t, std::u16string>> namesakes_;  // by index: items left out for a name
  bool rootDamaged_ = false;
};

// The in-archive path of a path as the library shows it; "\" also separates.
std::u16string archivePathOf(std::string_view shown);

}  // namespace sorvel::lib
