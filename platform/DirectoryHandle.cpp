#include "platform/DirectoryHandle.h"

#include <utility>

namespace sorvel {

DirectoryHandle::~DirectoryHandle() { close(); }

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)),
      path_(std::exchange(other.path_, {})),
      location_(std::exchange(other.location_, {})) {}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kNoHandle);
    path_ = std::exchange(other.path_, {});
    location_ = std::exchange(other.location_, {});
  }
  return *this;
}

}  // namespace sorvel
