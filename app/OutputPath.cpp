#include "app/OutputPath.h"

#include "platform/Utf16.h"
#include "tree/NameRules.h"

namespace sorvel {

bool isSafeItemPath(std::u16string_view pathInArchive) {
  for (const std::u16string& name : splitPath(pathInArchive)) {
    if (name == u"." || name == u"..") return false;
    if (name.find(u'/') != std::u16string::npos) return false;
  }
  return true;
}

std::string outputPathFor(std::string_view outputBase, std::u16string_view pathInArchive, std::size_t skip) {
  std::u16string_view relative = pathInArchive.substr(std::min(skip, pathInArchive.size()));
  // An empty output folder means the current one, never the file system's root.
  std::string path = outputBase.empty() ? std::string(".") : std::string(outputBase);
  if (path.back() != '/') path.push_back('/');
  std::string tail = toUtf8Lossy(relative);
  for (char& c : tail) {
    if (c == '\\') c = '/';
  }
  return path + tail;
}

std::string stripTrailingSlashes(std::string_view folder) {
  std::size_t end = folder.size();
  while (end > 1 && folder[end - 1] == '/') --end;
  return std::string(folder.substr(0, end));
}

}  // namespace sorvel
