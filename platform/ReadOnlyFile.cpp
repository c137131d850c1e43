#include "platform/ReadOnlyFile.h"

#include <utility>

namespace sorvel {

ReadOnlyFile::~ReadOnlyFile() { close(); }

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

}  // namespace sorvel
