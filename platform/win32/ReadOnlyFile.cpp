#include "platform/ReadOnlyFile.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/win32/Win32Host.h"

namespace sorvel {

bool ReadOnlyFile::open(const std::string& path) {
  close();
  // Others may read the archive while it is open, nobody may write it.
  HANDLE file = CreateFileW(win32::wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder cannot be opened as a file; it is refused as what it is, not as access denied.
    const DWORD attributes = GetFileAttributesW(win32::wide(path).c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    errno = folder ? EINVAL : win32::errnoFromWin32(error);
    return false;
  }
  return keepIfDisk(file);
}

bool ReadOnlyFile::openDuplicate(NativeHandle handle) {
  close();
  HANDLE process = GetCurrentProcess();
  HANDLE file = nullptr;
  if (!DuplicateHandle(process, win32::toHandle(handle), process, &file, GENERIC_READ, FALSE, 0)) {
    win32::setErrnoFromLastError();
    return false;
  }
  return keepIfDisk(file);
}

bool ReadOnlyFile::keepIfDisk(void* handle) {
  HANDLE file = handle;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    errno = EINVAL;
    return false;
  }
  handle_ = win32::fromHandle(file);
  return true;
}

bool ReadOnlyFile::openCopyOfStandardInput() {
  close();
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  if (GetFileType(input) == FILE_TYPE_CHAR) {
    errno = ENOTTY;
    return false;
  }
  // A temporary file that goes when its last handle is closed.
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"sva", 0, name) == 0) {
    win32::setErrnoFromLastError();
    return false;
  }
  HANDLE copy = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (copy == INVALID_HANDLE_VALUE) {
    win32::setErrnoFromLastError();
    DeleteFileW(name);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer is done
      win32::setErrnoFromLastError();
      CloseHandle(copy);
      return false;
    }
    if (got == 0) break;
    DWORD put = 0;
    if (!WriteFile(copy, buffer.data(), got, &put, nullptr) || put != got) {
      win32::setErrnoFromLastError();
      CloseHandle(copy);
      return false;
    }
  }
  handle_ = win32::fromHandle(copy);
  return true;
}

void ReadOnlyFile::close() {
  if (handle_ != kNoHandle) CloseHandle(win32::toHandle(std::exchange(handle_, kNoHandle)));
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::uint8_t* dst, std::size_t length) const {
  std::size_t done = 0;
  while (handle_ != kNoHandle && done < length) {
    const std::uint64_t at = offset + done;
    if (at > static_cast<std::uint64_t>(INT64_MAX)) break;
    // An OVERLAPPED offset on a synchronous handle: the read is positioned and the shared file
    // pointer does not matter to other threads.
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(length - done, 0x40000000));
    DWORD got = 0;
    if (!ReadFile(win32::toHandle(handle_), dst + done, ask, &got, &where) || got == 0) break;
    done += got;
  }
  return done;
}

std::optional<std::uint64_t> ReadOnlyFile::size() const {
  LARGE_INTEGER size{};
  if (handle_ == kNoHandle || !GetFileSizeEx(win32::toHandle(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace sorvel
