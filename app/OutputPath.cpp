#include "app/OutputPath.h"

#include "tree/NameRules.h"

namespace sorvel {

bool isSafeName(std::u16string_view name) {
  return name != u"." && name != u".." && name.find(u'/') == std::u16string_view::npos;
}

bool isSafeItemPath(std::u16string_view pathInArchive) {
  for (const std::u16string& name : splitPath(pathInArchive)) {
    if (!isSafeName(name)) return false;
  }
  return true;
}

std::string stripTrailingSlashes(std::string_view folder) {
  std::size_t end = folder.size();
  while (end > 1 && folder[end - 1] == '/') --end;
  return std::string(folder.substr(0, end));
}

}  // namespace sorvel
