#include "support/ArchivePlan.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "support/DirectoryGroup.h"

namespace sorvel::testing {

namespace {

constexpr std::uint32_t kEndOfChain = 1;
constexpr std::uint32_t kFirstBlock = 2;
constexpr std::size_t kMaxNameEntries = 63;

std::uint64_t blocksFor(std::uint64_t bytes) { return (bytes + disk::kBlockSize - 1) / disk::kBlockSize; }

std::u16string parentPathOf(const std::u16string& path) {
  const std::size_t separator = path.rfind(u'\\');
  return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator);
}

// For messages only: keeps ASCII, marks everything else.
std::string printable(const std::u16string& path) {
  std::string out = "\\";
  for (char16_t unit : path) out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return out;
}

// Node 0 is the root folder, node i + 1 the item i.
struct Node {
  const Item* item = nullptr;
  bool isFolder = true;
  const DirectoryOptions* directory = nullptr;
  const BlockList* explicitBlocks = nullptr;
  std::vector<std::size_t> children;
  std::uint64_t dataSize = 0;
  std::uint64_t blocksNeeded = 0;
  BlockList blocks;
};

class Planner {
 public:
  Planner(const ArchiveSettings& settings, const DirectoryOptions& rootDirectory, const std::deque<Item>& items)
      : settings_(settings) {
    nodes_.resize(items.size() + 1);
    nodes_[0].directory = &rootDirectory;
    nodes_[0].explicitBlocks = rootDirectory.blocks ? &*rootDirectory.blocks : nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
      Node& node = nodes_[i + 1];
      node.item = &items[i];
      node.isFolder = items[i].isFolder;
      node.directory = node.isFolder ? &items[i].directory : nullptr;
      const std::optional<BlockList>& blocks = node.isFolder ? items[i].directory.blocks : items[i].blocks;
      node.explicitBlocks = blocks ? &*blocks : nullptr;
    }
  }

  std::optional<ArchivePlan> run(std::string& error) {
    if (!linkParents() || !sizeChains() || !layChains() || !buildChainTable()) {
      error = error_;
      return std::nullopt;
    }
    encodeDirectories();
    recordOwners();
    finishLayout();
    return std::move(plan_);
  }

 private:
  bool fail(std::string reason) {
    error_ = std::move(reason);
    return false;
  }

  bool linkParents() {
    std::map<std::u16string, std::size_t> folders{{std::u16string(), 0}};
    for (std::size_t n = 1; n < nodes_.size(); ++n) {
      if (nodes_[n].isFolder) folders.emplace(nodes_[n].item->path, n);
    }
    for (std::size_t n = 1; n < nodes_.size(); ++n) {
      const Item& item = *nodes_[n].item;
      if (item.path.empty()) return fail("an item has an empty path");
      const auto parent = folders.find(parentPathOf(item.path));
      if (parent == folders.end()) return fail("no folder holds " + printable(item.path));
      nodes_[parent->second].children.push_back(n);
      if (nameEntryCountOf(item) > kMaxNameEntries && !item.entry.groupFlags) {
        return fail("the name of " + printable(item.path) + " needs more than 63 name entries");
      }
    }
    return true;
  }

  bool sizeChains() {
    for (Node& node : nodes_) {
      if (node.isFolder) {
        node.dataSize = directorySize(node);
        node.blocksNeeded = blocksFor(node.dataSize);
        if (!node.explicitBlocks && node.directory->allocate)
          node.blocksNeeded = std::max<std::uint64_t>(node.blocksNeeded, 1);
        if (!node.explicitBlocks && !node.directory->allocate && node.dataSize != 0) {
          return fail("folder " + printable(pathOf(node)) + " has entries but no directory chain");
        }
      } else {
        node.dataSize = node.item->contentSize();
        node.blocksNeeded = blocksFor(node.dataSize);
      }
      if (node.explicitBlocks && node.explicitBlocks->size() < node.blocksNeeded) {
        return fail("the chain given for " + printable(pathOf(node)) + " is too short for its data");
      }
    }
    return true;
  }

  std::uint64_t directorySize(const Node& folder) const {
    if (folder.directory->raw) return folder.directory->raw->size();
    std::uint64_t size = folder.directory->trailing.size();
    for (std::size_t child : folder.children) size += groupSizeOf(*nodes_[child].item);
    return size;
  }

  // Chains the test laid out keep their blocks; the others take the lowest free ones in order.
  bool layChains() {
    std::unordered_set<std::uint32_t> taken;
    for (Node& node : nodes_) {
      if (!node.explicitBlocks) continue;
      for (std::uint32_t block : *node.explicitBlocks) {
        if (block < kFirstBlock) return fail("block numbers start at 2, in the chain of " + printable(pathOf(node)));
        if (!taken.insert(block).second) return fail("block " + std::to_string(block) + " is given to two chains");
      }
      node.blocks = *node.explicitBlocks;
    }
    std::uint32_t next = kFirstBlock;
    for (Node& node : nodes_) {
      if (node.explicitBlocks) continue;
      for (std::uint64_t i = 0; i < node.blocksNeeded; ++i) {
        while (taken.count(next) != 0) ++next;
        node.blocks.push_back(next++);
      }
    }
    for (const Node& node : nodes_) {
      for (std::uint32_t block : node.blocks) highestBlock_ = std::max(highestBlock_, block);
    }
    return true;
  }

  bool buildChainTable() {
    ArchiveLayout& layout = plan_.layout;
    const std::uint32_t highest = std::max(highestBlock_, kFirstBlock);
    layout.chainEntryCount = settings_.chainEntryCount.value_or(highest + 1 + settings_.extraChainEntries);
    layout.chainTable.assign(layout.chainEntryCount, 0);
    for (const Node& node : nodes_) {
      for (std::size_t i = 0; i < node.blocks.size(); ++i) {
        const std::uint32_t next = i + 1 < node.blocks.size() ? node.blocks[i + 1] : kEndOfChain;
        if (node.blocks[i] < layout.chainEntryCount) layout.chainTable[node.blocks[i]] = next;
      }
    }
    for (const auto& [index, value] : settings_.chainOverrides) {
      if (index >= layout.chainEntryCount)
        return fail("chain override " + std::to_string(index) + " is outside the table");
      layout.chainTable[index] = value;
    }
    return true;
  }

  void encodeDirectories() {
    plan_.directories.resize(nodes_.size());
    plan_.layout.items.resize(nodes_.size() - 1);
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
      const Node& folder = nodes_[n];
      if (!folder.isFolder) continue;
      Bytes& directory = plan_.directories[n];
      if (folder.directory->raw) {
        directory = *folder.directory->raw;
      } else {
        for (std::size_t child : folder.children) {
          const Node& node = nodes_[child];
          ItemLayout& placed = plan_.layout.items[child - 1];
          placed.groupOffset = directory.size();
          placed.itemEntryOffset = directory.size() + nameEntryCountOf(*node.item) * disk::kEntrySize;
          const std::uint32_t first = node.blocks.empty() ? 0 : node.blocks.front();
          const Bytes group = encodeGroup(*node.item, first, child);
          directory.insert(directory.end(), group.begin(), group.end());
        }
        directory.insert(directory.end(), folder.directory->trailing.begin(), folder.directory->trailing.end());
      }
      for (std::size_t child : folder.children) plan_.layout.items[child - 1].parent = parentIndex(n);
    }
  }

  static std::optional<std::size_t> parentIndex(std::size_t folderNode) {
    return folderNode == 0 ? std::nullopt : std::optional<std::size_t>(folderNode - 1);
  }

  void recordOwners() {
    plan_.owners.assign(std::size_t{highestBlock_} + 1, BlockOwner{});
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
      const BlockList& blocks = nodes_[n].blocks;
      for (std::size_t i = 0; i < blocks.size(); ++i) {
        plan_.owners[blocks[i]] = BlockOwner{static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(i)};
      }
    }
  }

  void finishLayout() {
    ArchiveLayout& layout = plan_.layout;
    layout.highestBlock = highestBlock_;
    layout.lastBlock = settings_.lastBlock.value_or(std::max(highestBlock_, kFirstBlock));
    layout.dataStart = disk::kChainTableOffset + 4 * std::uint64_t{layout.chainEntryCount};
    const std::uint64_t natural =
        highestBlock_ >= kFirstBlock ? layout.blockOffset(highestBlock_) + disk::kBlockSize : layout.dataStart;
    plan_.clippedSize = settings_.fileSize.value_or(natural);
    layout.fileSize = plan_.clippedSize;
    for (const auto& patch : settings_.patches) {
      if (!patch.bytes.empty()) layout.fileSize = std::max(layout.fileSize, patch.offset + patch.bytes.size());
    }
    describe(layout.root, nodes_[0]);
    for (std::size_t n = 1; n < nodes_.size(); ++n) describe(layout.items[n - 1], nodes_[n]);
  }

  static void describe(ItemLayout& placed, const Node& node) {
    placed.path = pathOf(node);
    placed.blocks = node.blocks;
    const std::uint32_t first = node.blocks.empty() ? 0 : node.blocks.front();
    placed.storedFirstBlock = node.item ? node.item->firstBlock.value_or(first) : first;
  }

  static std::u16string pathOf(const Node& node) { return node.item ? node.item->path : std::u16string(); }

  const ArchiveSettings& settings_;
  std::vector<Node> nodes_;
  std::uint32_t highestBlock_ = 0;
  ArchivePlan plan_;
  std::string error_;
};

}  // namespace

std::optional<ArchivePlan> planArchive(const ArchiveSettings& settings, const DirectoryOptions& rootDirectory,
                                       const std::deque<Item>& items, std::string& error) {
  return Planner(settings, rootDirectory, items).run(error);
}

}  // namespace sorvel::testing
