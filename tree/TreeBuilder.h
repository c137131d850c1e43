#pragma once
// Reads every directory of an archive, from the root's down, into its folder tree.
#include <cstdint>
#include <vector>

#include "base/ChainSource.h"
#include "base/LastError.h"
#include "tree/DirectoryParser.h"
#include "tree/FolderTree.h"
#include "tree/ItemRecord.h"
#include "tree/NameRules.h"

namespace sorvel {

inline constexpr std::uint32_t kErrorMalformedDirectory = 550;

// How reading one folder's directory went. Shared: its chain runs into blocks that another
// directory holds, which no sound archive does; the items before them were read.
enum class DirectoryRead { Complete, Unreadable, Malformed, Shared };

struct PathItem;  // an item of the map of every item's path (TreeBuilder.cpp)

class TreeBuilder {
 public:
  // Each directory parsed leaves kErrorSuccess or kErrorMalformedDirectory in `lastError`.
  TreeBuilder(ChainSource& chains, std::uint32_t& lastError) : chains_(chains), lastError_(lastError) {}

  // Replaces everything below the tree's root with the archive's folders and files.
  void build(FolderTree& tree);
  // The same from a map of every item's path: slower and larger, but it places names that hold
  // backslashes, and build() uses it for archives that have such names. Elsewhere both give the
  // same tree, the same items left out and the same damaged folders.
  void buildByPaths(FolderTree& tree);
  // One folder's directory (its blocks then count as read; see ChainSource::openDirectory).
  DirectoryRead readDirectory(std::uint32_t firstBlock, ParsedDirectory& out);

 private:
  // Builds the tree folder by folder as the directories are read; false, with the tree to be
  // cleared, when a stored name holds a backslash and so may name an item of another folder.
  bool buildByFolders(FolderTree& tree);
  void buildPathMap(NameMap<PathItem>& out, NameMap<bool>& damagedFolders, std::vector<LeftOutItem>& leftOut);

  ChainSource& chains_;
  std::uint32_t& lastError_;
};

}  // namespace sorvel
