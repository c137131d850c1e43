#pragma once
// The items of an opened archive a command works on, chosen once for every program that lists,
// tests, extracts, exports or reads them: the items that paths or shell-style patterns
// (NamePattern) name, each with everything below it, less the items exclusion patterns name and
// everything below those.
//
// Paths and patterns use '/' or '\' between names and are taken from the archive's root. One
// holding a wildcard chooses every item whose whole path it matches, and the item of exactly that
// path if there is one; one without chooses the item of that path. Exclusion patterns match the
// end of a path, as many names as they hold, unless they begin with a separator: then the whole
// path from the root. Wildcards do not cross separators unless the request says so.
//
// Each item is chosen once, however many paths or patterns name it or a folder above it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/OutputPlan.h"
#include "archive/Archive.h"
#include "tree/NamePattern.h"

namespace sorvel {

struct SelectionRequest {
  std::vector<std::string> operands;  // UTF-8, as the user gave them; none chooses the whole archive
  std::vector<std::string> excludes;  // UTF-8 patterns
  Separators separators = Separators::Kept;
  // How the chosen items follow each other: in listing order (each item once, none below
  // another), or in the order of the operands, each operand's items in listing order (each
  // item once), as `cat` takes them.
  enum class Order { Listing, AsNamed } order = Order::Listing;
};

class ItemSelection {
 public:
  ItemSelection(const Archive& archive, const SelectionRequest& request);

  // The operands that name nothing in the archive, as the user gave them, in their order.
  const std::vector<std::string>& unmatched() const { return unmatched_; }
  // The paths of the items chosen ("\docs", the root "\"), every name as the archive stores it;
  // each plans everything chosen below it.
  const std::vector<std::u16string>& starts() const { return starts_; }
  // The plan of starts()[index], without the items excluded.
  OutputPlan plan(std::size_t index) const;

  // Whether the item at `path` (an in-archive path) is excluded; the folders above it are not
  // looked at.
  bool excludes(std::u16string_view path) const;

  // The items of every start and below, excluded ones not counted (the root counts as one), and
  // the bytes of the files among them.
  struct Totals {
    std::uint64_t items = 0;
    std::uint64_t bytes = 0;
  };
  Totals totals() const;

 private:
  struct Exclusion {
    std::u16string pattern;
    bool anchored;  // it began with a separator: the whole path matches it
  };
  // The nodes the operand names; none when it names nothing.
  std::vector<NodeIndex> nodesNamedBy(std::u16string_view path) const;
  // Whether the item at `path` or a folder above it is excluded.
  bool excludedWithFolders(std::u16string_view path) const;

  const Archive& archive_;
  Separators separators_;
  std::vector<Exclusion> exclusions_;
  std::vector<std::string> unmatched_;
  std::vector<std::u16string> starts_;
};

// The in-archive form of a path or pattern the user gave ("docs/a.txt", "\docs\"): "\docs\a.txt",
// separators turned into backslashes, leading, trailing and repeated ones dropped; "\" for the
// root.
std::u16string inArchivePath(std::string_view userPath);

}  // namespace sorvel
