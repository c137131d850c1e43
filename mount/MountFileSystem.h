#pragma once
// The archive as a read-only file system (FUSE, low-level interface): folders and files of the
// mount tree with their sizes and times, the modes extraction gives them (folders 0755, files
// 0644, read-only files 0444, less the umask option), owned by whoever mounted (or the uid and
// gid options), inode numbers that are the tree's node numbers. Reads decrypt only the blocks
// they touch, through the block store; a damaged file reads up to its last readable byte and then
// fails with EIO (reported once: on standard error in the foreground, to the system's log once
// detached). Every call that would change anything fails with EROFS.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "mount/BlockStore.h"
#include "mount/MountOptions.h"
#include "mount/MountTree.h"

namespace sorvel::mount {

class Detachment;

struct MountSettings {
  std::string mountPoint;
  std::string archivePath;  // absolute: the file system's name unless the options give one
  bool foreground = false;
  std::size_t cacheBytes = std::size_t{32} << 20;
  MountOptions options;
};

class MountFileSystem {
 public:
  MountFileSystem(const ContainerFile& container, MountTree tree, std::size_t cacheBytes);
  ~MountFileSystem();

  // Mounts at the mount point, tells `detachment` once the mount is in place (none in the
  // foreground), and serves requests until it is unmounted or interrupted. The exit code: 0 after
  // a clean unmount, 1 when mounting failed (after a message on standard error).
  int run(const MountSettings& settings, Detachment* detachment);

  const MountTree& tree() const { return tree_; }
  // The owner, group and permission bits every item shows.
  struct Ownership {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::uint32_t umask = 0;
  };
  const Ownership& ownership() const { return ownership_; }
  BlockStore& store() { return store_; }

  // A file's bytes at `offset`, at most `length`, as pieces of cached blocks (held while the
  // pieces live), in order. The count, which is short only at the end of the file or where its
  // content fails; -EIO when nothing could be read at `offset` because the content fails there.
  struct Piece {
    BlockStore::BlockRef block;
    std::uint32_t index;  // the archive block
    std::size_t offset;
    std::size_t size;
  };
  long readPieces(NodeId id, std::uint64_t offset, std::size_t length, std::vector<Piece>& pieces);
  // The same bytes copied into `out`.
  long readFile(NodeId id, std::uint64_t offset, std::size_t length, std::uint8_t* out);
  // After a sequential reader's read has been answered with `pieces`: the blocks it
  // took whole leave the cache (the kernel's page cache keeps their bytes), so that their buffers
  // are wiped and reused while still at hand.
  void forgetWholeBlocks(const std::vector<Piece>& pieces);

  // One open file: where the last read ended. Kept here until released, so that none is lost when
  // the mount goes with files still open.
  struct OpenFile {
    NodeId id = 0;
    std::atomic<std::uint64_t> nextOffset{0};
  };
  OpenFile* openFile(NodeId id);
  void releaseFile(OpenFile* file);

 private:
  void reportDamage(NodeId id);
  // The archive blocks that hold the file's bytes [from, to), as runs of consecutive blocks.
  std::vector<BlockStore::Run> blockRuns(const MountNode& node, std::uint64_t from, std::uint64_t to) const;

  MountTree tree_;
  Ownership ownership_;
  BlockStore store_;
  std::unique_ptr<std::atomic<bool>[]> reported_;  // per node: its damage was reported
  bool detached_ = false;                          // serving without a terminal (no -f)
  std::mutex openLock_;
  std::unordered_map<OpenFile*, std::unique_ptr<OpenFile>> open_;
};

}  // namespace sorvel::mount
