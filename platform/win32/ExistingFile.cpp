#include "platform/ExistingFile.h"

#include "platform/win32/Win32Host.h"

namespace sorvel {

bool entryExists(const DirectoryHandle& folder, const std::string& name) {
  const std::wstring path = win32::joinPath(win32::wide(folder.location()), win32::wide(name));
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace sorvel
