#pragma once
// Shell-style patterns over in-archive paths. '*' stands for any run of characters, '?' for one
// character, "[...]" for one character of a set: "a-z" is a range, '!' or '^' first takes every
// character outside the set, and ']' first is one of the set; a '[' without its ']' is itself.
// Characters are Unicode code points (a surrogate pair is one). Names match as they compare
// (compareNames): 'A'..'Z' and 'a'..'z' alike, every other character only itself.
//
// The backslash separates names, as in every in-archive path, and is never an escape: a
// wildcard character is matched as itself inside brackets ("[*]"). Unless wildcards cross
// separators, no wildcard or set matches a backslash, so each name of the pattern matches one
// name of the path.
#include <string_view>

namespace sorvel {

enum class Separators { Kept, CrossedByWildcards };

// Whether all of `text` matches all of `pattern`.
bool matchesPattern(std::u16string_view pattern, std::u16string_view text, Separators separators);

// Whether `text` holds a character that has a meaning in a pattern ('*', '?' or '[').
bool hasWildcards(std::u16string_view text);

}  // namespace sorvel
