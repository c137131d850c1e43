#pragma once
// Fuzz input turned into a file the code under test can open by path, kept in memory so that
// no run touches the disk.
#include <cstddef>
#include <cstdint>
#include <string>

namespace sorvel::fuzz {

class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  bool valid() const { return fd_ >= 0; }
  // A path that opens the file afresh, from its start.
  const std::string& path() const { return path_; }
  // The descriptor, positioned at the start of the data.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace sorvel::fuzz
