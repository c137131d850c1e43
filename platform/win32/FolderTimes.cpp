#include "platform/FolderTimes.h"

#include <cerrno>

#include "platform/win32/Win32Host.h"

namespace sorvel {

int setFolderTimes(const DirectoryHandle& parent, const std::string& name, std::int64_t accessed,
                   std::int64_t modified) {
  const std::wstring path = win32::joinPath(win32::wide(parent.location()), win32::wide(name));
  const HANDLE folder = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return win32::setErrnoFromLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  int error = 0;
  if (!GetFileInformationByHandle(folder, &info)) {
    error = win32::setErrnoFromLastError();
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
             (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = ENOTDIR;  // a link or anything but a folder: left as it is
  } else {
    const FILETIME lastAccess = win32::toFileTime(accessed);
    const FILETIME lastWrite = win32::toFileTime(modified);
    if (!SetFileTime(folder, nullptr, &lastAccess, &lastWrite)) error = win32::setErrnoFromLastError();
  }
  CloseHandle(folder);
  return error;
}

}  // namespace sorvel
