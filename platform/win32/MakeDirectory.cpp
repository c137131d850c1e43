#include "platform/MakeDirectory.h"

#include <cerrno>

#include "platform/win32/Win32Host.h"

namespace sorvel {

MakeDirectoryResult makeDirectory(const std::string& path) {
  const std::wstring name = win32::wide(path);
  if (CreateDirectoryW(name.c_str(), nullptr)) return {true, 0};
  const int error = win32::setErrnoFromLastError();
  const DWORD attributes = GetFileAttributesW(name.c_str());
  const bool isDirectory =
      error == EEXIST && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  errno = error;
  return {isDirectory, error};
}

}  // namespace sorvel
