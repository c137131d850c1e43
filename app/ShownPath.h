#pragma once
// How the programs show an item's path in the archive. sorvelExtractorWin shows the archive's own
// form ("\docs\a.txt"); the sorvel tool and its mount show a path relative to the root with "/"
// between names ("docs/a.txt"), as tar and the file system do. The archive separates names with
// "\", so a name may hold "/": shown with "/" between names, it is written "\x2F" ("a\x2Fb"), and
// never looks like a folder. A name cannot hold "\", so "\x" starts nothing else in a path.
#include <cstdint>
#include <string>
#include <string_view>

namespace sorvel {

enum class PathStyle : std::uint8_t {
  Archive,  // "\docs\a.txt", the root "\"
  Slash,    // "docs/a.txt", the root "/"
};

// One name as a path shown with "/" shows it (UTF-8): a "/" in it as "\x2F".
std::string shownName(std::string_view name);

// The in-archive path `path` ("\docs\a.txt") in `style`, as UTF-8; an unpaired surrogate becomes
// U+FFFD.
std::string shownPath(std::u16string_view path, PathStyle style);

}  // namespace sorvel
