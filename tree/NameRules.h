#pragma once
// How names and in-archive paths compare and split. In-archive paths are UTF-16, backslash
// separated and begin with a backslash; the root folder is "\". Every map keyed by a name or a
// path orders its keys with compareNames, so names that differ only in the case of ASCII letters
// are one key.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sorvel {

// A UTF-16 unit as names compare it: 'A'..'Z' become 'a'..'z', every other unit stays as it is.
inline char16_t foldNameUnit(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 0x20) : unit;
}

// -1, 0 or 1. Only 'A'..'Z' are folded (foldNameUnit); everything else compares as unsigned 16-bit units, and a
// name that is a prefix of the other comes first.
int compareNames(std::u16string_view a, std::u16string_view b);

struct NameLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const { return compareNames(a, b) < 0; }
};

// A map keyed by names or paths. Storing under a key that is already present keeps the key as it
// was first stored (letter case included) and replaces only the value: use insertOrReplace.
template <class Value>
using NameMap = std::map<std::u16string, Value, NameLess>;

template <class Value>
void insertOrReplace(NameMap<Value>& map, std::u16string_view key, Value value) {
  auto it = map.find(key);
  if (it == map.end()) {
    map.emplace(std::u16string(key), std::move(value));
  } else {
    it->second = std::move(value);
  }
}

// The components of a path: cut at every backslash, empty pieces dropped. A slash is an ordinary
// character here.
std::vector<std::u16string> splitPath(std::u16string_view path);

// Calls `visit` with each component splitPath would list, in order, without building the list;
// stops as soon as `visit` answers false, and answers whether it went through to the end.
template <class Visit>
bool forEachComponent(std::u16string_view path, Visit visit) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start && !visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// The string functions below treat both backslash and slash as separators.
bool isSeparator(char16_t unit);
// Removes trailing separators, but never the first character ("\" stays "\").
std::u16string stripTrailingSeparators(std::u16string_view s);
// s without trailing separators, then exactly one backslash; "" and separators only give "\".
std::u16string folderPrefix(std::u16string_view s);
// s up to and including its last separator; "" when it has none.
std::u16string parentPath(std::u16string_view s);
// The part of s after its last separator; all of s when it has none.
std::u16string leafName(std::u16string_view s);
bool isRootPath(std::u16string_view s);

inline constexpr char16_t kRootPath[] = u"\\";

}  // namespace sorvel
