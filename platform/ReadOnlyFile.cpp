#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace sorvel {

ReadOnlyFile::~ReadOnlyFile() { close(); }

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool ReadOnlyFile::open(const std::string& path) {
  close();
  int fd;
  do {
    // Without O_NONBLOCK a FIFO put in the archive's place would hold the run until a writer came.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    errno = error;
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  return true;
}

void ReadOnlyFile::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::uint8_t* dst, std::size_t length) const {
  std::size_t done = 0;
  while (fd_ >= 0 && done < length) {
    const auto at = offset + done;
    if (at > static_cast<std::uint64_t>(INT64_MAX)) break;
    const ssize_t n = ::pread(fd_, dst + done, length - done, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::optional<std::uint64_t> ReadOnlyFile::size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace sorvel
