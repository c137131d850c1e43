#pragma once
// An archive file laid out by hand for storage tests: a chain table at offset 1024 and plain
// data blocks in which every byte holds the low byte of the block's number, so any read shows
// which block it came from.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "archive/ContainerFile.h"

namespace sorvel::testing {

class RawContainer {
 public:
  // `table`: chain entries that are not 0; `entries`: the table's length; `blocksInFile`: how
  // many data blocks (from block 2) the file holds.
  RawContainer(const std::map<std::uint32_t, std::uint32_t>& table, std::uint32_t entries, std::uint32_t blocksInFile);
  ~RawContainer();

  ContainerFile& container() { return *container_; }

 private:
  std::filesystem::path path_;
  std::unique_ptr<ContainerFile> container_;
};

}  // namespace sorvel::testing
