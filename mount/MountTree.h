#pragma once
// An opened archive's tree as the mount shows it: one node per item that extraction writes (its
// output plan), numbered from 1 (the root) in listing order, each file with the blocks of its
// readable content and the length extraction gives it. Built once, before the file system
// starts; read-only afterwards, so any number of threads may use it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/OutputPlan.h"
#include "archive/Archive.h"
#include "archive/ContainerFile.h"
#include "archive/Extent.h"

namespace sorvel::mount {

using NodeId = std::uint64_t;  // 1 is the root
inline constexpr NodeId kRootNode = 1;

struct MountNode {
  NodeId parent = kRootNode;
  std::string name;  // UTF-8, as extraction writes it; empty for the root
  bool folder = false;
  bool damagedFolder = false;
  bool readOnly = false;       // the item's read-only attribute
  std::uint64_t size = 0;      // what extraction writes: the recorded size, or for a damaged
                               // file its readable bytes and zero tail (never past the archive)
  std::uint64_t readable = 0;  // bytes the content chain delivers; reads past them fail
  ChainTable::ContentEnd end = ChainTable::ContentEnd::Whole;
  std::int64_t created = 0;
  std::int64_t modified = 0;
  std::int64_t accessed = 0;
  // Files: the content's runs of blocks, [extentBegin, extentBegin + extentCount) of the tree's
  // extent list. Folders: the children, [childBegin, childBegin + childCount) of the tree's child
  // list, in byte order of their names.
  std::uint32_t extentBegin = 0;
  std::uint32_t extentCount = 0;
  std::uint64_t childBegin = 0;
  std::uint64_t childCount = 0;
  std::uint32_t subfolders = 0;

  bool damaged() const { return !folder && readable < size; }
};

class MountTree {
 public:
  // The root's times: the archive file's own (the archive stores none for its root).
  struct RootTimes {
    std::int64_t created = 0;
    std::int64_t modified = 0;
    std::int64_t accessed = 0;
  };
  // The opened archive's output plan, every file's content planned on its container.
  static MountTree build(Archive& archive, const RootTimes& rootTimes);

  std::size_t nodeCount() const { return nodes_.size(); }
  bool contains(NodeId id) const { return id >= 1 && id <= nodes_.size(); }
  const MountNode& node(NodeId id) const { return nodes_[id - 1]; }
  // The child of folder `parent` named `name`, or 0.
  NodeId lookup(NodeId parent, std::string_view name) const;
  // The folder's children in name order.
  const NodeId* children(const MountNode& folder) const { return children_.data() + folder.childBegin; }

  // The archive block that holds byte `offset` of the file's content (offset < readable).
  std::uint32_t blockAt(const MountNode& file, std::uint64_t offset) const;
  // The node's path in the archive as the tool's messages show it ("docs/a.txt", ShownPath.h).
  std::string archivePath(NodeId id) const;
  // The lines extraction gives the items it leaves out, which the mount does not show either.
  const std::vector<std::string>& leftOut() const { return leftOut_; }

 private:
  void leaveOut(std::u16string_view path, std::string_view reason);
  // Adds the item as a node, with its content's chain (null for folders and empty files), unless
  // extraction leaves it out.
  void place(const OutputPlan& plan, const PlannedItem& item, const ChainTable::ContentChain* chain,
             std::uint64_t archiveSize, std::vector<NodeId>& shownAs, std::vector<std::vector<NodeId>>& childrenOf);
  // Lays out each folder's children, in byte order of their names.
  void indexChildren(std::vector<std::vector<NodeId>>& childrenOf);

  std::vector<MountNode> nodes_;
  std::vector<NodeId> children_;
  std::vector<Extent> extents_;
  std::vector<std::uint64_t> extentStarts_;  // per extent: the file's block index it begins at
  std::vector<std::string> leftOut_;
};

}  // namespace sorvel::mount
