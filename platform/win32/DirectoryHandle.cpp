#include "platform/DirectoryHandle.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

// Others may read and write inside the folder, but while it is open nobody can rename or remove
// it: the path of every folder reached stays the folder that was checked.
HANDLE openFolder(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags,
                     nullptr);
}

// The path the system gives for an open folder, in the \\?\ form: names below it are then taken
// as they are, and paths may be longer than MAX_PATH.
std::wstring finalPath(HANDLE folder) {
  std::wstring path(1024, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(folder, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
  return {};
}

// The open folder's path on its volume ("\\users\\me\\out\\a"; "\\server\\share\\..." on a share), as
// the system resolved it. (Asked this way rather than with GetFinalPathNameByHandleW, which fails
// under Wine once the path is longer than MAX_PATH.)
std::wstring volumePath(HANDLE folder) {
  std::vector<std::uint8_t> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!GetFileInformationByHandleEx(folder, FileNameInfo, info, static_cast<DWORD>(buffer.size()))) return {};
  return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// `path` (in the \\?\ form) without its volume: what volumePath gives for the folder it names.
std::wstring withoutVolume(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return path.substr(7);
  if (path.starts_with(L"\\\\?\\") && path.size() >= 6 && path[5] == L':') return path.substr(6);
  return {};
}

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

bool DirectoryHandle::open(const std::string& path) {
  close();
  HANDLE folder = openFolder(win32::wide(path.empty() ? std::string(".") : path), 0);
  if (folder == INVALID_HANDLE_VALUE) {
    win32::setErrnoFromLastError();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(folder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(folder);
    errno = ENOTDIR;
    return false;
  }
  // Files are made by path below it: the folder as the system resolved it, links and all.
  std::wstring resolved = finalPath(folder);
  if (resolved.empty()) {
    win32::setErrnoFromLastError();
    CloseHandle(folder);
    return false;
  }
  handle_ = win32::fromHandle(folder);
  path_ = path;
  location_ = win32::narrow(resolved);
  return true;
}

bool DirectoryHandle::openIn(const DirectoryHandle& parent, const std::string& name) {
  close();
  if (!parent.isOpen() || name.empty() || name.find_first_of("/\\") != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  const std::wstring expected = win32::joinPath(win32::wide(parent.location()), win32::wide(name));
  HANDLE folder = openFolder(expected, FILE_FLAG_OPEN_REPARSE_POINT);
  if (folder == INVALID_HANDLE_VALUE) {
    win32::setErrnoFromLastError();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  int refusal = 0;
  if (!GetFileInformationByHandle(folder, &info)) {
    refusal = win32::setErrnoFromLastError();
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    refusal = ELOOP;  // a junction or a symbolic link
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    refusal = ENOTDIR;
  } else if (const std::wstring resolved = volumePath(folder);
             resolved.empty() || !sameIgnoringCase(resolved, withoutVolume(expected))) {
    // Reached somewhere else all the same (a link the system does not show as a reparse point).
    refusal = ELOOP;
  }
  if (refusal != 0) {
    CloseHandle(folder);
    errno = refusal;
    return false;
  }
  handle_ = win32::fromHandle(folder);
  path_ = name;
  location_ = win32::narrow(expected);
  return true;
}

void DirectoryHandle::close() {
  if (handle_ != kNoHandle) CloseHandle(win32::toHandle(std::exchange(handle_, kNoHandle)));
  path_.clear();
  location_.clear();
}

}  // namespace sorvel
