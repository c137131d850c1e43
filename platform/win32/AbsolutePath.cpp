#include "platform/AbsolutePath.h"

#include <cerrno>

#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

// GetFullPathNameW: "." and ".." folded, "/" made "\", relative paths against the current
// folder of their drive. Nothing, with errno set, when it fails.
std::optional<std::string> fullPath(const std::wstring& path) {
  std::wstring result(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(result.size()), result.data(), nullptr);
    if (length == 0) {
      win32::setErrnoFromLastError();
      return std::nullopt;
    }
    if (length < result.size()) {
      result.resize(length);
      return win32::narrow(result);
    }
    result.resize(length);
  }
  errno = ENAMETOOLONG;
  return std::nullopt;
}

bool isAbsolute(std::string_view path) {
  return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'));
}

}  // namespace

std::string absoluteAgainst(std::string_view path, std::string_view base) {
  if (path.empty()) return {};
  std::wstring joined = isAbsolute(path) ? win32::wide(path) : win32::joinPath(win32::wide(base), win32::wide(path));
  return fullPath(joined).value_or(std::string());
}

std::optional<std::string> makeAbsolute(std::string_view path, int& error) {
  if (path.empty()) return std::string();
  std::optional<std::string> result = fullPath(win32::wide(path));
  if (!result) error = errno;
  return result;
}

}  // namespace sorvel
