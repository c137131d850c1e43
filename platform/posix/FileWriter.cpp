#include "platform/FileWriter.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/ArchiveTime.h"
#include "platform/ProcessSafety.h"

namespace sorvel {
namespace {

constexpr int kMaxNameAttempts = 100;

int fdOf(NativeHandle handle) { return static_cast<int>(handle); }

// 0 when a file may be written at `path`; otherwise the errno that refuses it. A read-only file
// (decided by the mode bits, not by access(), which grants everything to root) is refused unless
// `readOnlyReplaced`. Only looks: whatever stands there is replaced by a rename, never changed.
int targetRefusal(int folder, const std::string& name, bool readOnlyReplaced, bool* missing = nullptr) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (missing != nullptr) *missing = errno == ENOENT;
    return errno == ENOENT ? 0 : errno;
  }
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0 && !readOnlyReplaced) return EACCES;
  return 0;
}

// Why a commit that keeps existing files did not name its file: a folder in the way, or what
// stands at `name` kept.
int keptRefusal(int folder, const std::string& name) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) return EISDIR;
  return EEXIST;
}

// Gives the file `from` the name `to` (both in `folder`) only where that name is free: the
// rename refuses to replace, and where the file system cannot refuse in a rename, a link (which
// never replaces) takes the name and the old one goes.
bool nameWithoutReplacing(int folder, const std::string& from, const std::string& to) {
  if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return false;
  ::unlinkat(folder, from.c_str(), 0);
  return true;
}

std::uint64_t mixBits(std::uint64_t bits) {  // splitmix64's finaliser
  bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ULL;
  bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBULL;
  return bits ^ (bits >> 31);
}

std::uint64_t processSeed() {
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
  // No entropy to be had: the clock and the process, which is enough since O_EXCL settles any
  // collision.
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
         (static_cast<std::uint64_t>(::getpid()) << 48);
}

// Unpredictable bits for temporary names: one seed per process, then a counter mixed into it,
// which spares a system call per file.
std::uint64_t randomBits() {
  static const std::uint64_t seed = processSeed();
  static std::atomic<std::uint64_t> counter{0};
  return mixBits(seed + (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ULL);
}

// Makes the temporary file `name` in `folder` by `make` (true when made), with the name noted for
// removal on a signal beforehand, so that no signal finds the file there unnoted; a name that
// could not be made (taken already) is forgotten again at once, errno kept.
template <typename Make>
bool makeNoted(int folder, const std::string& name, Make make) {
  noteTemporaryFile(folder, name);
  if (make()) return true;
  const int error = errno;
  forgetTemporaryFile();
  errno = error;
  return false;
}

// A short name of its own, so a target name of the longest allowed length still works. Created
// with mode 0666 so the umask (or the folder's default ACL) gives the file its permissions.
int openTemporary(int folder, const std::string& prefix, std::string& path) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::uint64_t bits = randomBits();
    path = prefix + ".sv-";
    for (int i = 0; i < 6; ++i, bits /= 62) path += kLetters[bits % 62];
    int fd = -1;
    if (makeNoted(folder, path, [&] {
          fd = ::openat(folder, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
          return fd >= 0;
        })) {
      return fd;
    }
    if (errno != EEXIST && errno != EINTR) break;
  }
  const int openError = errno;
  path.clear();
  errno = openError;
  return -1;
}

// Gives the unnamed file `fd` (opened with O_TMPFILE) the name `name` in `folder`. Linking by the
// descriptor itself needs a capability; without it the descriptor's entry in /proc does.
bool linkUnnamed(int fd, int folder, const std::string& name) {
  if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return false;
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, self, folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Links the unnamed file under a fresh temporary name; that name, or "" on failure.
std::string linkUnderTemporaryName(int fd, int folder) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::uint64_t bits = randomBits();
    std::string name = ".sv-";
    for (int i = 0; i < 6; ++i, bits /= 62) name += kLetters[bits % 62];
    if (makeNoted(folder, name, [&] { return linkUnnamed(fd, folder, name); })) return name;
    if (errno != EEXIST) break;
  }
  return {};
}

// An unnamed file in `folder` that only commit names, so that no temporary name is created and
// renamed per file; -1 where that cannot be done (file systems without O_TMPFILE, or a process
// that can link such files neither by descriptor nor through /proc: tried once, on a probe).
int openUnnamed(int folder) {
  enum : int { kUnknown, kWorks, kFails };
  static std::atomic<int> linking{kUnknown};
  if (linking.load() == kFails) return -1;
  auto open = [folder] { return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); };
  if (linking.load() == kUnknown) {
    // A file once linked cannot be linked again after its name is gone: the probe is its own.
    const int probe = open();
    if (probe < 0) return -1;
    const std::string name = linkUnderTemporaryName(probe, folder);
    ::close(probe);
    if (name.empty()) {
      linking.store(kFails);
      return -1;
    }
    ::unlinkat(folder, name.c_str(), 0);
    linking.store(kWorks);
  }
  return open();
}

}  // namespace

std::optional<FileWriter> FileWriter::create(const std::string& targetPath, WriteCall writeCall) {
  const auto slash = targetPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : targetPath.substr(0, slash + 1);
  if (folder.size() == targetPath.size()) {  // no name after the last slash
    errno = EINVAL;
    return std::nullopt;
  }
  bool targetMissing = false;
  if (const int refusal = targetRefusal(AT_FDCWD, targetPath, /*readOnlyReplaced=*/false, &targetMissing)) {
    errno = refusal;
    return std::nullopt;
  }
  return start(AT_FDCWD, folder, targetPath, targetMissing, std::move(writeCall));
}

std::optional<FileWriter> FileWriter::createIn(const DirectoryHandle& folder, const std::string& name,
                                               WriteCall writeCall) {
  if (!folder.isOpen() || name.empty() || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return std::nullopt;
  }
  // A name the file system cannot take is refused now, not after the content is written. Every
  // file system takes names of _POSIX_NAME_MAX bytes: only a longer one costs asking the folder's.
  if (name.size() > _POSIX_NAME_MAX) {
    const long nameMax = ::fpathconf(static_cast<int>(folder.handle()), _PC_NAME_MAX);
    if (name.size() > static_cast<std::size_t>(nameMax > 0 ? nameMax : NAME_MAX)) {
      errno = ENAMETOOLONG;
      return std::nullopt;
    }
  }
  return start(folder.handle(), std::string(), name, /*targetMissing=*/true, std::move(writeCall));
}

std::optional<FileWriter> FileWriter::start(NativeHandle folder, const std::string& temporaryPrefix,
                                            const std::string& target, bool targetMissing, WriteCall writeCall) {
  FileWriter writer;
  writer.folder_ = folder;
  writer.targetMissing_ = targetMissing;
  if (folder != AT_FDCWD) {
    writer.handle_ = openUnnamed(fdOf(folder));
    writer.unnamed_ = writer.handle_ != kNoHandle;
  }
  if (writer.handle_ == kNoHandle) writer.handle_ = openTemporary(fdOf(folder), temporaryPrefix, writer.temporaryPath_);
  if (writer.handle_ == kNoHandle) return std::nullopt;
  writer.targetPath_ = target;
  writer.writeCall_ =
      writeCall ? std::move(writeCall) : [](NativeHandle fd, const void* data, std::size_t count) -> std::ptrdiff_t {
    return ::write(fdOf(fd), data, count);
  };
  return writer;
}

bool FileWriter::extendTo(std::uint64_t size) {
  if (!ensureOpen()) return false;
  if (size < size_) return fail(EINVAL);
  if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return fail(EFBIG);
  if (size == size_) return true;
  const auto end = static_cast<off_t>(size);
  int result;
  do {
    result = ::ftruncate(fdOf(handle_), end);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return fail(errno);
  if (::lseek(fdOf(handle_), end, SEEK_SET) < 0) return fail(errno);
  size_ = size;
  return true;
}

bool FileWriter::commit(std::int64_t accessed, std::int64_t modified, FileFlags flags) {
  if (!ensureOpen()) return false;
  const bool keep = existing_ == ExistingFiles::Keep;
  const bool readOnlyReplaced = existing_ == ExistingFiles::ReplaceAll;
  // The target may have turned into something that must not be replaced since `create`. When it
  // was missing then, or nothing is to be replaced, a call that never replaces settles that
  // without a look.
  if (!targetMissing_ && !keep) {
    if (const int refusal = targetRefusal(fdOf(folder_), targetPath_, readOnlyReplaced)) return fail(refusal);
  }

  const timespec times[2] = {archiveTimeToTimespec(accessed), archiveTimeToTimespec(modified)};
  if (::futimens(fdOf(handle_), times) != 0) return fail(errno);
  if (flags.readOnly) {
    struct stat st {};
    if (::fstat(fdOf(handle_), &st) != 0) return fail(errno);
    const mode_t withoutWrite = st.st_mode & 07777 & ~mode_t{0222};
    if (::fchmod(fdOf(handle_), withoutWrite) != 0) return fail(errno);
  }
  if (unnamed_) return commitUnnamed();
  // Closed before the rename, so a late write error reported by close still keeps the target.
  // On Linux an interrupted close has released the descriptor all the same.
  if (::close(fdOf(std::exchange(handle_, kNoHandle))) != 0 && errno != EINTR) return fail(errno);
  if (targetMissing_ || keep) {
    if (nameWithoutReplacing(fdOf(folder_), temporaryPath_, targetPath_)) {
      clearTemporary();
      return true;
    }
    if (keep) return fail(errno == EEXIST ? keptRefusal(fdOf(folder_), targetPath_) : errno);
    // Something took the name meanwhile (or the file system can neither refuse nor link): judge
    // it as above.
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS && errno != EPERM && errno != EOPNOTSUPP) {
      return fail(errno);
    }
    if (const int refusal = targetRefusal(fdOf(folder_), targetPath_, readOnlyReplaced)) return fail(refusal);
  }
  if (::renameat(fdOf(folder_), temporaryPath_.c_str(), fdOf(folder_), targetPath_.c_str()) != 0) return fail(errno);
  clearTemporary();
  return true;
}

bool FileWriter::commitUnnamed() {
  // Where the name is free, the complete file simply appears under it.
  if (linkUnnamed(fdOf(handle_), fdOf(folder_), targetPath_)) {
    if (::close(fdOf(std::exchange(handle_, kNoHandle))) != 0 && errno != EINTR) {
      const int closeError = errno;
      ::unlinkat(fdOf(folder_), targetPath_.c_str(), 0);  // nothing was there before it
      return fail(closeError);
    }
    return true;
  }
  if (errno != EEXIST) return fail(errno);
  if (existing_ == ExistingFiles::Keep) return fail(keptRefusal(fdOf(folder_), targetPath_));
  // Something holds the name: judged as at `create`, then replaced by a rename as usual.
  if (const int refusal = targetRefusal(fdOf(folder_), targetPath_, existing_ == ExistingFiles::ReplaceAll)) {
    return fail(refusal);
  }
  temporaryPath_ = linkUnderTemporaryName(fdOf(handle_), fdOf(folder_));
  if (temporaryPath_.empty()) return fail(errno);
  if (::close(fdOf(std::exchange(handle_, kNoHandle))) != 0 && errno != EINTR) return fail(errno);
  if (::renameat(fdOf(folder_), temporaryPath_.c_str(), fdOf(folder_), targetPath_.c_str()) != 0) return fail(errno);
  clearTemporary();
  return true;
}

void FileWriter::abandon() {
  const int savedErrno = errno;
  if (handle_ != kNoHandle) ::close(fdOf(std::exchange(handle_, kNoHandle)));
  if (!temporaryPath_.empty()) {
    ::unlinkat(fdOf(folder_), temporaryPath_.c_str(), 0);
    clearTemporary();
  }
  errno = savedErrno;
}

}  // namespace sorvel
