#include "platform/win32/Win32Host.h"

#include <algorithm>
#include <cerrno>

#include "platform/Utf16.h"

namespace sorvel::win32 {

std::wstring wide(std::string_view utf8) {
  const std::u16string units = toUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string narrow(std::wstring_view utf16) {
  const std::u16string units(utf16.begin(), utf16.end());
  return toUtf8Lossy(units);
}

int errnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_BAD_PATHNAME:
      return EINVAL;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    default:
      return EIO;
  }
}

int setErrnoFromLastError() {
  errno = errnoFromWin32(GetLastError());
  return errno;
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
  return folder + L'\\' + name;
}

FILETIME toFileTime(std::int64_t unixSeconds) {
  constexpr std::int64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  constexpr std::int64_t kLowest = -kSecondsFrom1601To1970;
  constexpr std::int64_t kHighest = INT64_MAX / kTicksPerSecond - kSecondsFrom1601To1970;
  const std::int64_t seconds = std::clamp(unixSeconds, kLowest, kHighest);
  const auto ticks = static_cast<std::uint64_t>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace sorvel::win32
