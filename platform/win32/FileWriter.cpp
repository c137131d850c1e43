#include "platform/FileWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ProcessSafety.h"
#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

constexpr int kMaxNameAttempts = 100;
// The longest name NTFS takes, in UTF-16 units.
constexpr std::size_t kMaxNameUnits = 255;
// 0 when a file may be written at `path`; otherwise the errno that refuses it. A read-only file
// is refused unless `readOnlyReplaced`.
int targetRefusal(const std::wstring& path, bool readOnlyReplaced) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const int error = win32::errnoFromWin32(GetLastError());
    return error == ENOENT ? 0 : error;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 0;  // replaced, never written through
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && !readOnlyReplaced) return EACCES;
  return 0;
}

// Unpredictable enough for temporary names: CREATE_NEW settles any collision.
std::uint64_t randomBits() {
  static std::atomic<std::uint64_t> counter{0};
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  std::uint64_t bits = static_cast<std::uint64_t>(now.QuadPart) ^ (std::uint64_t{GetCurrentProcessId()} << 40) ^
                       ((counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ULL);
  bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ULL;
  bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBULL;
  return bits ^ (bits >> 31);
}

// A fresh name for a temporary file in `folder`.
std::wstring temporaryName(const std::wstring& folder) {
  static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t bits = randomBits();
  std::wstring name = L".sv-";
  for (int i = 0; i < 6; ++i, bits /= 62) name += kLetters[bits % 62];
  return win32::joinPath(folder, name);
}

// The name is noted for removal on Ctrl-C before the file is made, so that no handler finds the
// file there unnoted; a name taken already is forgotten again at once.
HANDLE openTemporary(const std::wstring& folder, std::wstring& path) {
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    path = temporaryName(folder);
    noteTemporaryFile(kNoHandle, win32::narrow(path));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    forgetTemporaryFile();  // keeps GetLastError
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  win32::setErrnoFromLastError();
  path.clear();
  return INVALID_HANDLE_VALUE;
}

bool setAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of 0 stay as they are
  basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool renameTo(HANDLE file, const std::wstring& path) {
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::copy(path.begin(), path.end(), rename->FileName);
  return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
}

// Windows renames nothing over a read-only file. A read-only file at the target is moved aside
// to a temporary name in its folder, through a handle to the very file that stands there (a
// link of that name is opened, not followed; anything but a plain read-only file stays where it
// is), which frees the name for the new file. Once the new file has it, the old one's temporary
// name goes, and the read-only attribute, taken off for that through the same handle, is given
// back on the file for its other names; where the rename failed, the old file gets its name back.
class ReadOnlyTarget {
 public:
  explicit ReadOnlyTarget(const std::wstring& target) : target_(target) {
    file_ = CreateFileW(target.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return;  // nothing there (or nothing to open): the rename decides
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file_, &info)) {
      error_ = win32::setErrnoFromLastError();
      return;
    }
    attributes_ = info.dwFileAttributes;
    if ((attributes_ & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        (attributes_ & FILE_ATTRIBUTE_READONLY) == 0) {
      // Nothing to set aside; the handle goes, as a file still open cannot be replaced.
      CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
      return;
    }
    const std::wstring folder = target.substr(0, target.find_last_of(L"\\/"));
    for (int attempt = 0; attempt < kMaxNameAttempts && aside_.empty(); ++attempt) {
      std::wstring aside = temporaryName(folder);
      if (renameTo(file_, aside)) {
        aside_ = std::move(aside);
      } else if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) {
        break;
      }
    }
    if (aside_.empty()) error_ = win32::setErrnoFromLastError();
  }
  ~ReadOnlyTarget() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  ReadOnlyTarget(const ReadOnlyTarget&) = delete;
  ReadOnlyTarget& operator=(const ReadOnlyTarget&) = delete;

  int error() const { return error_; }
  void settle(bool renamed) {
    if (aside_.empty()) return;
    if (!renamed) {
      renameTo(file_, target_);
      return;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (setAttributes(file_, attributes_ & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
      SetFileInformationByHandle(file_, FileDispositionInfo, &disposition, sizeof disposition);
      setAttributes(file_, attributes_);
    }
  }

 private:
  std::wstring target_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  DWORD attributes_ = 0;
  std::wstring aside_;
  int error_ = 0;
};

std::ptrdiff_t writeFile(NativeHandle file, const void* data, std::size_t count) {
  DWORD written = 0;
  if (!WriteFile(win32::toHandle(file), data, static_cast<DWORD>(count), &written, nullptr)) {
    win32::setErrnoFromLastError();
    return -1;
  }
  return static_cast<std::ptrdiff_t>(written);
}

}  // namespace

std::optional<FileWriter> FileWriter::create(const std::string& targetPath, WriteCall writeCall) {
  const auto separator = targetPath.find_last_of("/\\");
  const std::string folder = separator == std::string::npos ? std::string(".") : targetPath.substr(0, separator + 1);
  if (separator != std::string::npos && separator + 1 == targetPath.size()) {  // no name after the last separator
    errno = EINVAL;
    return std::nullopt;
  }
  if (const int refusal = targetRefusal(win32::wide(targetPath), /*readOnlyReplaced=*/false)) {
    errno = refusal;
    return std::nullopt;
  }
  return start(kNoHandle, folder, targetPath, /*targetMissing=*/false, std::move(writeCall));
}

std::optional<FileWriter> FileWriter::createIn(const DirectoryHandle& folder, const std::string& name,
                                               WriteCall writeCall) {
  if (!folder.isOpen() || name.empty() || name.find_first_of("/\\") != std::string::npos) {
    errno = EINVAL;
    return std::nullopt;
  }
  // A name the file system cannot take is refused now, not after the content is written.
  if (win32::wide(name).size() > kMaxNameUnits) {
    errno = ENAMETOOLONG;
    return std::nullopt;
  }
  return start(folder.handle(), folder.location(),
               win32::narrow(win32::joinPath(win32::wide(folder.location()), win32::wide(name))),
               /*targetMissing=*/false, std::move(writeCall));
}

// On Windows `temporaryPrefix` is the folder to make the temporary file in and `target` the
// target's full path.
std::optional<FileWriter> FileWriter::start(NativeHandle folder, const std::string& temporaryPrefix,
                                            const std::string& target, bool targetMissing, WriteCall writeCall) {
  FileWriter writer;
  writer.folder_ = folder;
  writer.targetMissing_ = targetMissing;
  std::wstring temporary;
  HANDLE file = openTemporary(win32::wide(temporaryPrefix), temporary);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  writer.handle_ = win32::fromHandle(file);
  writer.temporaryPath_ = win32::narrow(temporary);
  writer.targetPath_ = target;
  writer.writeCall_ = writeCall ? std::move(writeCall) : WriteCall(writeFile);
  return writer;
}

bool FileWriter::extendTo(std::uint64_t size) {
  if (!ensureOpen()) return false;
  if (size < size_) return fail(EINVAL);
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return fail(EFBIG);
  if (size == size_) return true;
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(win32::toHandle(handle_), end, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(win32::toHandle(handle_))) {
    return fail(win32::setErrnoFromLastError());
  }
  size_ = size;
  return true;
}

bool FileWriter::commit(std::int64_t accessed, std::int64_t modified, FileFlags flags) {
  if (!ensureOpen()) return false;
  const std::wstring target = win32::wide(targetPath_);
  const bool keep = existing_ == ExistingFiles::Keep;
  if (!keep) {
    if (const int refusal = targetRefusal(target, existing_ == ExistingFiles::ReplaceAll)) return fail(refusal);
  }

  const FILETIME created = win32::toFileTime(created_);
  const FILETIME lastAccess = win32::toFileTime(accessed);
  const FILETIME lastWrite = win32::toFileTime(modified);
  if (!SetFileTime(win32::toHandle(handle_), &created, &lastAccess, &lastWrite)) {
    return fail(win32::setErrnoFromLastError());
  }
  // Closed before the rename, so a late write error still keeps the target.
  if (!CloseHandle(win32::toHandle(std::exchange(handle_, kNoHandle)))) return fail(win32::setErrnoFromLastError());
  const std::wstring temporary = win32::wide(temporaryPath_);
  DWORD kept = (flags.readOnly ? FILE_ATTRIBUTE_READONLY : 0) | (flags.hidden ? FILE_ATTRIBUTE_HIDDEN : 0) |
               (flags.system ? FILE_ATTRIBUTE_SYSTEM : 0) | (flags.archive ? FILE_ATTRIBUTE_ARCHIVE : 0);
  if (kept == 0) kept = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesW(temporary.c_str(), kept)) return fail(win32::setErrnoFromLastError());
  if (keep) {
    // Without MOVEFILE_REPLACE_EXISTING the move never replaces: whatever stands there by now stays.
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
      clearTemporary();
      return true;
    }
    const int moveError = win32::setErrnoFromLastError();
    const DWORD standing = GetFileAttributesW(target.c_str());
    if (standing == INVALID_FILE_ATTRIBUTES) return fail(moveError);
    return fail((standing & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : EEXIST);
  }
  std::optional<ReadOnlyTarget> readOnly;
  if (existing_ == ExistingFiles::ReplaceAll) {
    readOnly.emplace(target);
    if (readOnly->error() != 0) return fail(readOnly->error());
  }
  const bool renamed =
      MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  const int renameError = renamed ? 0 : win32::setErrnoFromLastError();
  if (readOnly) readOnly->settle(renamed);
  if (!renamed) return fail(renameError);
  clearTemporary();
  return true;
}

bool FileWriter::commitUnnamed() { return fail(EINVAL); }  // every file here has a temporary name

void FileWriter::abandon() {
  const int savedErrno = errno;
  if (handle_ != kNoHandle) CloseHandle(win32::toHandle(std::exchange(handle_, kNoHandle)));
  if (!temporaryPath_.empty()) {
    const std::wstring temporary = win32::wide(temporaryPath_);
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file cannot be removed
    DeleteFileW(temporary.c_str());
    clearTemporary();
  }
  errno = savedErrno;
}

}  // namespace sorvel
