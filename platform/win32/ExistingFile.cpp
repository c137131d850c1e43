#include "platform/ExistingFile.h"

#include "platform/win32/Win32Host.h"

namespace sorvel {

namespace {

std::wstring pathIn(const DirectoryHandle& folder, const std::string& name) {
  return win32::joinPath(win32::wide(folder.location()), win32::wide(name));
}

}  // namespace

bool entryExists(const DirectoryHandle& folder, const std::string& name) {
  return GetFileAttributesW(pathIn(folder, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int clearReadOnly(const DirectoryHandle& folder, const std::string& name) {
  const std::wstring path = pathIn(folder, name);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;  // nothing there
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return 0;
  }
  if (!SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) return win32::setErrnoFromLastError();
  return 0;
}

}  // namespace sorvel
