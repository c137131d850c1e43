#pragma once
// The chains of an open container as the folder tree reads them (see ChainSource): directories
// cut where they run into blocks another directory holds, detail tables cut where the file ends.
#include <cstdint>
#include <memory>
#include <vector>

#include "archive/ContainerFile.h"
#include "base/ChainSource.h"

namespace sorvel {

class ContainerChains final : public ChainSource {
 public:
  explicit ContainerChains(ContainerFile& container) : container_(container) {}

  void startTree() override;
  Directory openDirectory(std::uint32_t firstBlock) override;
  std::unique_ptr<ByteSource> openStored(std::uint32_t firstBlock) override;
  std::uint64_t archiveSize() const override { return container_.archiveFile().fileSize(); }

  // One flag per chain-table entry: the blocks the tree's directories were read from.
  const std::vector<bool>& directoryBlocks() const { return directoryBlocks_; }

 private:
  ContainerFile& container_;
  std::vector<bool> directoryBlocks_;
};

}  // namespace sorvel
