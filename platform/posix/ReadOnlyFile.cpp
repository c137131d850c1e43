#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
