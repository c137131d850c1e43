#include "platform/FileStatus.h"

#include <cerrno>

#include "platform/win32/Win32Host.h"

namespace sorvel {

FileStatus queryFileStatus(const std::string& path) {
  // Opened (links followed) rather than asked by name, so that a link is judged by its target.
  HANDLE file = CreateFileW(win32::wide(path).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const int error = win32::setErrnoFromLastError();
    return {error == ENOENT || error == ENOTDIR ? FileKind::Absent : FileKind::Error, error};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  const int error = known ? 0 : win32::setErrnoFromLastError();
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  if (!known) return {FileKind::Error, error};
  const bool regular =
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 && type == FILE_TYPE_DISK;
  return {regular ? FileKind::Regular : FileKind::Other, 0};
}

}  // namespace sorvel
