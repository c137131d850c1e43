#include "support/RawContainer.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

#include "base/ByteOrder.h"

namespace sorvel::testing {

RawContainer::RawContainer(const std::map<std::uint32_t, std::uint32_t>& table, std::uint32_t entries,
                           std::uint32_t blocksInFile) {
  static std::atomic<int> serial{0};
  Bytes file(1024 + 4 * std::size_t{entries}, 0);
  for (auto [block, next] : table) storeU32(file.data() + 1024 + 4 * std::size_t{block}, next);
  for (std::uint32_t b = 2; b < 2 + blocksInFile; ++b)
    file.insert(file.end(), kBlockSize, static_cast<std::uint8_t>(b));
  path_ = std::filesystem::temp_directory_path() /
          ("raw_container_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin");
  std::ofstream(path_, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  container_ = std::make_unique<ContainerFile>();
  if (!container_->archiveFile().openFile(path_.string())) throw std::runtime_error("cannot open " + path_.string());
  container_->chainTable().resizeChainTable(entries);
  container_->chainTable().loadChainTable();
}

RawContainer::~RawContainer() {
  container_.reset();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

}  // namespace sorvel::testing
