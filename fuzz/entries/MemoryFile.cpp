#include "entries/MemoryFile.h"

#include <sys/mman.h>
#include <unistd.h>

namespace sorvel::fuzz {

MemoryFile::MemoryFile(const std::uint8_t* data, std::size_t size) {
  fd_ = ::memfd_create("sorvel-fuzz-input", MFD_CLOEXEC);
  if (fd_ < 0) return;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, data + done, size - done);
    if (n <= 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd_, 0, SEEK_SET);
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace sorvel::fuzz
