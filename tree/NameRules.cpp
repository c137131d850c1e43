#include "tree/NameRules.h"

namespace sorvel {
int compareNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;  // the common case in sorted paths: no folding needed
    const char16_t x = foldNameUnit(a[i]);
    const char16_t y = foldNameUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::vector<std::u16string> splitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  forEachComponent(path, [&parts](std::u16string_view component) {
    parts.emplace_back(component);
    return true;
  });
  return parts;
}

bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

std::u16string stripTrailingSeparators(std::u16string_view s) {
  if (s.empty()) return {};
  std::size_t end = s.size();
  while (end > 0 && isSeparator(s[end - 1])) --end;
  if (end == 0) return std::u16string(s.substr(0, 1));
  return std::u16string(s.substr(0, end));
}

std::u16string folderPrefix(std::u16string_view s) {
  std::size_t end = s.size();
  while (end > 0 && isSeparator(s[end - 1])) --end;
  std::u16string prefix(s.substr(0, end));
  prefix.push_back(u'\\');
  return prefix;
}

std::u16string parentPath(std::u16string_view s) {
  for (std::size_t i = s.size(); i > 0; --i) {
    if (isSeparator(s[i - 1])) return std::u16string(s.substr(0, i));
  }
  return {};
}

std::u16string leafName(std::u16string_view s) {
  for (std::size_t i = s.size(); i > 0; --i) {
    if (isSeparator(s[i - 1])) return std::u16string(s.substr(i));
  }
  return std::u16string(s);
}

bool isRootPath(std::u16string_view s) { return s.size() == 1 && s[0] == u'\\'; }

}  // namespace sorvel
