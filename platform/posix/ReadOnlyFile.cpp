#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

namespace sorvel {
namespace {

// `fd` when it is a regular file; else it is closed, and errno says why.
int regularOrClosed(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

bool ReadOnlyFile::open(const std::string& path) {
  close();
  int fd;
  do {
    // Without O_NONBLOCK a FIFO put in the archive's place would hold the run until a writer came.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 || (fd = regularOrClosed(fd)) < 0) return false;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  handle_ = fd;
  return true;
}

bool ReadOnlyFile::openDuplicate(NativeHandle handle) {
  close();
  int fd = ::fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 0);
  if (fd < 0 || (fd = regularOrClosed(fd)) < 0) return false;
  handle_ = fd;
  return true;
}

namespace {

// An unnamed file open for reading and writing: in $TMPDIR (else /tmp) where the file system can
// hold one, else in memory; -1 with errno set.
int openUnnamedFile() {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  int fd = -1;
#ifdef O_TMPFILE
  fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
#ifdef MFD_CLOEXEC
  if (fd < 0) fd = ::memfd_create("sorvel-archive", MFD_CLOEXEC);
#endif
  if (fd < 0) {
    // Named for a moment only, for hosts that have neither.
    std::string name = std::string(folder) + "/sorvel-archive-XXXXXX";
    fd = ::mkstemp(name.data());
    if (fd >= 0) ::unlink(name.c_str());
  }
  return fd;
}

// Copies everything left on `from` to `to`; false with errno set when reading or writing fails.
bool copyToEnd(int from, int to) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return false;
      done += put;
    }
  }
}

}  // namespace

bool ReadOnlyFile::openCopyOfStandardInput() {
  close();
  if (::isatty(STDIN_FILENO) == 1) {
    errno = ENOTTY;
    return false;
  }
  const int fd = openUnnamedFile();
  if (fd < 0) return false;
  if (!copyToEnd(STDIN_FILENO, fd)) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  handle_ = fd;
  return true;
}

void ReadOnlyFile::close() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(std::exchange(handle_, kNoHandle)));
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::uint8_t* dst, std::size_t length) const {
  std::size_t done = 0;
  while (handle_ != kNoHandle && done < length) {
    const auto at = offset + done;
    if (at > static_cast<std::uint64_t>(INT64_MAX)) break;
    const ssize_t n = ::pread(static_cast<int>(handle_), dst + done, length - done, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::optional<std::uint64_t> ReadOnlyFile::size() const {
  struct stat st {};
  if (handle_ == kNoHandle || ::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace sorvel
