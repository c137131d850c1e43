#pragma once
// An opened archive's tree as the mount shows it: one node per item the library lists as
// extracted (not left out), numbered from 1 (the root) in listing order, each file with the
// length extraction gives it and its readable content, whose blocks the library's item table
// holds. Built once, before the file system starts; read-only afterwards, so any number of threads
// may use it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lib/LibraryParts.h"

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
  std::int64_t created = 0;
  std::int64_t modified = 0;
  std::int64_t accessed = 0;
  // Files: the item's index in the library's item table, which holds its runs of blocks.
  // Folders: the children, [childBegin, childBegin + childCount) of the tree's child list, in
  // byte order of their names.
  std::size_t item = 0;
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
  // The tree of an archive opened by the library (lib::openArchive), which it keeps open.
  static MountTree build(std::shared_ptr<api::Archive::Impl> archive, const RootTimes& rootTimes);

  // The archive's container, whose blocks the files' contents are read from.
  const ContainerFile& container() const { return archive_->archive.container(); }

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
  // Adds the table's item `index` as a node below its folder's, when that is shown.
  void place(const lib::ItemTable& table, std::size_t index,
             std::unordered_map<std::u16string_view, NodeId>& shownFolders,
             std::vector<std::vector<NodeId>>& childrenOf);
  // Lays out each folder's children, in byte order of their names.
  void indexChildren(std::vector<std::vector<NodeId>>& childrenOf);

  std::shared_ptr<api::Archive::Impl> archive_;
  std::vector<MountNode> nodes_;
  std::vector<NodeId> children_;
  std::vector<std::string> leftOut_;
};

}  // namespace sorvel::mount
