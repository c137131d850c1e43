#include "app/ShownPath.h"

#include "platform/Utf16.h"
#include "tree/NameRules.h"

namespace sorvel {

std::string shownName(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    if (c == '/') {
      shown += "\\x2F";
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string shownPath(std::u16string_view path, PathStyle style) {
  if (style == PathStyle::Archive) return toUtf8Lossy(path);
  std::string shown;
  forEachComponent(path, [&](std::u16string_view name) {
    if (!shown.empty()) shown += '/';
    shown += shownName(toUtf8Lossy(name));
    return true;
  });
  return shown.empty() ? "/" : shown;
}

}  // namespace sorvel
