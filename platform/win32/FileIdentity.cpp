#include "platform/FileIdentity.h"

#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

// Only files on a disk have an identity worth comparing; consoles and pipes have none.
std::optional<FileIdentity> identityOfHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || GetFileInformationByHandle(file, &info) == 0) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace

std::optional<FileIdentity> identityOfPath(const std::string& path) {
  // Opened (links followed) with no access to the content, which even a file open for writing
  // elsewhere allows.
  HANDLE file = CreateFileW(win32::wide(path).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::optional<FileIdentity> identity = identityOfHandle(file);
  CloseHandle(file);
  return identity;
}

std::optional<FileIdentity> identityOfStandardOutput() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return std::nullopt;
  return identityOfHandle(output);
}

}  // namespace sorvel
