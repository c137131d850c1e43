#pragma once
// Absolute paths formed from text alone: the file system is never asked, so symbolic links stay
// as written and the path need not exist. "." and ".." are folded, repeated separators merged,
// and a trailing separator kept. An empty path stays empty.
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

// `path` against the absolute folder `base` (only used when `path` is relative).
std::string absoluteAgainst(std::string_view path, std::string_view base);

// `path` against the current directory; nothing, with `error` set to the errno value, when the
// current directory cannot be learned.
std::optional<std::string> makeAbsolute(std::string_view path, int& error);

}  // namespace sorvel
