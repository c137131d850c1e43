#define FUSE_USE_VERSION 312
#include "mount/MountFileSystem.h"

#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "app/Messages.h"
#include "mount/Detachment.h"
#include "mount/MountPoint.h"
#include "platform/ArchiveTime.h"
#include "platform/SystemLog.h"
#include "platform/TerminalText.h"

namespace sorvel::mount {
namespace {

// The tree never changes while mounted: the kernel may keep names and attributes for long.
constexpr double kCacheSeconds = 86400.0;
// The largest read the kernel is asked to send.
constexpr unsigned kLargestRead = 1u << 20;

using OpenFile = MountFileSystem::OpenFile;

MountFileSystem& fileSystemOf(fuse_req_t req) { return *static_cast<MountFileSystem*>(fuse_req_userdata(req)); }

struct stat attributesOf(const MountFileSystem& fileSystem, NodeId id) {
  const MountNode& node = fileSystem.tree().node(id);
  const MountFileSystem::Ownership& owner = fileSystem.ownership();
  struct stat st {};
  st.st_ino = id;
  st.st_uid = owner.uid;
  st.st_gid = owner.gid;
  st.st_blksize = static_cast<blksize_t>(kBlockSize);
  st.st_atim = archiveTimeToTimespec(node.accessed);
  st.st_mtim = archiveTimeToTimespec(node.modified);
  // Linux's stat carries no creation time; the change time is the modification time.
  st.st_ctim = st.st_mtim;
  // The modes extraction gives (with a umask of 022), less the umask option.
  if (node.folder) {
    st.st_mode = S_IFDIR | (0755 & ~owner.umask);
    st.st_nlink = 2 + node.subfolders;
    st.st_size = 0;
    st.st_blocks = 0;
  } else {
    st.st_mode = S_IFREG | ((node.readOnly ? 0444 : 0644) & ~owner.umask);
    st.st_nlink = 1;
    st.st_size = static_cast<off_t>(node.size);
    // The archive blocks the readable content occupies, in 512-byte units.
    st.st_blocks = static_cast<blkcnt_t>((node.readable + kBlockSize - 1) / kBlockSize * (kBlockSize / 512));
  }
  return st;
}

void replyEntry(fuse_req_t req, NodeId id) {
  fuse_entry_param entry{};
  entry.ino = id;
  entry.generation = 1;
  entry.attr = attributesOf(fileSystemOf(req), id);
  entry.attr_timeout = kCacheSeconds;
  entry.entry_timeout = kCacheSeconds;
  fuse_reply_entry(req, &entry);
}

void opLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  const MountTree& tree = fileSystemOf(req).tree();
  const NodeId id = tree.lookup(parent, name);
  if (id == 0) {
    // A negative entry, kept as long as the positive ones: the tree never gains a name.
    fuse_entry_param entry{};
    entry.entry_timeout = kCacheSeconds;
    fuse_reply_entry(req, &entry);
    return;
  }
  replyEntry(req, id);
}

void opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
  const MountTree& tree = fileSystemOf(req).tree();
  if (!tree.contains(ino)) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  const struct stat st = attributesOf(fileSystemOf(req), ino);
  fuse_reply_attr(req, &st, kCacheSeconds);
}

// The kernel opens folders without asking (set once, by init, before any other request).
std::atomic<bool> foldersNeedNoOpen{false};

void opInit(void*, fuse_conn_info* conn) {
  // Reads as large as the kernel takes, so that a sequential reader needs few round trips; the
  // kernel keeps the smaller of this and its own read-ahead.
  conn->max_readahead = kLargestRead;
  // A folder's listing is the tree's and needs no open: told so by the first opendir's answer,
  // the kernel sends no more opendir and releasedir, two of the five requests a folder costs a walk.
  if ((conn->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0) {
    conn->want |= FUSE_CAP_NO_OPENDIR_SUPPORT;
    foldersNeedNoOpen = true;
  }
}

void opOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  if (foldersNeedNoOpen) return void(fuse_reply_err(req, ENOSYS));
  const MountTree& tree = fileSystemOf(req).tree();
  if (!tree.contains(ino)) return void(fuse_reply_err(req, ENOENT));
  if (!tree.node(ino).folder) return void(fuse_reply_err(req, ENOTDIR));
  fi->keep_cache = 1;
  fi->cache_readdir = 1;
  fuse_reply_open(req, fi);
}

void opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info*) {
  const MountTree& tree = fileSystemOf(req).tree();
  if (!tree.contains(ino) || !tree.node(ino).folder) return void(fuse_reply_err(req, ENOTDIR));
  const MountNode& folder = tree.node(ino);
  // Written entry by entry: not cleared first (the kernel asks for up to a megabyte at a time).
  const std::unique_ptr<char[]> buffer(new char[size]);
  std::size_t used = 0;
  // Offsets: 0 ".", 1 "..", 2 + i the i-th child.
  for (auto at = static_cast<std::uint64_t>(std::max<off_t>(offset, 0)); at < folder.childCount + 2; ++at) {
    struct stat st {};
    const char* name;
    if (at < 2) {
      st.st_ino = at == 0 ? ino : folder.parent;
      st.st_mode = S_IFDIR;
      name = at == 0 ? "." : "..";
    } else {
      const NodeId child = tree.children(folder)[at - 2];
      st.st_ino = child;
      st.st_mode = tree.node(child).folder ? S_IFDIR : S_IFREG;
      name = tree.node(child).name.c_str();
    }
    const std::size_t need =
        fuse_add_direntry(req, buffer.get() + used, size - used, name, &st, static_cast<off_t>(at + 1));
    if (need > size - used) break;
    used += need;
  }
  fuse_reply_buf(req, buffer.get(), used);
}

void opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  const MountTree& tree = fileSystemOf(req).tree();
  if (!tree.contains(ino)) return void(fuse_reply_err(req, ENOENT));
  if (tree.node(ino).folder) return void(fuse_reply_err(req, EISDIR));
  if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0) return void(fuse_reply_err(req, EROFS));
  // A damaged file's reads reach the reader exactly as answered, the short one before the
  // failure included; whole files go through the page cache, kept across opens.
  if (tree.node(ino).damaged()) {
    fi->direct_io = 1;
  } else {
    fi->keep_cache = 1;
  }
  fi->fh = reinterpret_cast<std::uint64_t>(fileSystemOf(req).openFile(ino));
  fuse_reply_open(req, fi);
}

void opRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
  fileSystemOf(req).releaseFile(reinterpret_cast<OpenFile*>(fi->fh));
  fuse_reply_err(req, 0);
}

void opRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi) {
  MountFileSystem& fs = fileSystemOf(req);
  auto* file = reinterpret_cast<OpenFile*>(fi->fh);
  if (offset < 0) return void(fuse_reply_err(req, EINVAL));
  const auto at = static_cast<std::uint64_t>(offset);
  // A read that starts where the last one ended is a sequential reader's. Its blocks are read and
  // decrypted here, on the thread that answers: handed over from another thread they would reach
  // the reply from the other processor's cache, which costs more than decrypting them.
  const bool sequential = file != nullptr && file->nextOffset.exchange(at + size) == at;
  std::vector<MountFileSystem::Piece> pieces;
  const long got = fs.readPieces(ino, at, size, pieces);
  if (got < 0) return void(fuse_reply_err(req, static_cast<int>(-got)));
  // Straight from the cached blocks to the kernel, no copy in between.
  std::vector<iovec> pieceVector(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    pieceVector[i].iov_base = const_cast<std::uint8_t*>(pieces[i].block->data() + pieces[i].offset);
    pieceVector[i].iov_len = pieces[i].size;
  }
  fuse_reply_iov(req, pieceVector.data(), static_cast<int>(pieceVector.size()));
  if (sequential) fs.forgetWholeBlocks(pieces);
}

void opStatfs(fuse_req_t req, fuse_ino_t) {
  const MountTree& tree = fileSystemOf(req).tree();
  struct statvfs st {};
  st.f_bsize = kBlockSize;
  st.f_frsize = kBlockSize;
  st.f_files = tree.nodeCount();
  st.f_namemax = 255;
  st.f_flag = ST_RDONLY;
  fuse_reply_statfs(req, &st);
}

// Everything that would change the tree or a file.
void refuseSetattr(fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*) { fuse_reply_err(req, EROFS); }
void refuseMknod(fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) { fuse_reply_err(req, EROFS); }
void refuseMkdir(fuse_req_t req, fuse_ino_t, const char*, mode_t) { fuse_reply_err(req, EROFS); }
void refuseRemove(fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
void refuseSymlink(fuse_req_t req, const char*, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
void refuseRename(fuse_req_t req, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned) {
  fuse_reply_err(req, EROFS);
}
void refuseLink(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
void refuseWrite(fuse_req_t req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) {
  fuse_reply_err(req, EROFS);
}
void refuseCreate(fuse_req_t req, fuse_ino_t, const char*, mode_t, fuse_file_info*) { fuse_reply_err(req, EROFS); }
void refuseSetxattr(fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) { fuse_reply_err(req, EROFS); }
void refuseRemovexattr(fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
void refuseFallocate(fuse_req_t req, fuse_ino_t, int, off_t, off_t, fuse_file_info*) { fuse_reply_err(req, EROFS); }

fuse_lowlevel_ops makeOperations() {
  fuse_lowlevel_ops ops{};
  ops.init = opInit;
  ops.lookup = opLookup;
  ops.getattr = opGetattr;
  ops.opendir = opOpendir;
  ops.readdir = opReaddir;
  ops.open = opOpen;
  ops.read = opRead;
  ops.release = opRelease;
  ops.statfs = opStatfs;
  ops.setattr = refuseSetattr;
  ops.mknod = refuseMknod;
  ops.mkdir = refuseMkdir;
  ops.unlink = refuseRemove;
  ops.rmdir = refuseRemove;
  ops.symlink = refuseSymlink;
  ops.rename = refuseRename;
  ops.link = refuseLink;
  ops.write = refuseWrite;
  ops.create = refuseCreate;
  ops.setxattr = refuseSetxattr;
  ops.removexattr = refuseRemovexattr;
  ops.fallocate = refuseFallocate;
  return ops;
}

}  // namespace

MountFileSystem::MountFileSystem(const ContainerFile& container, MountTree tree, std::size_t cacheBytes)
    : tree_(std::move(tree)),
      ownership_{::getuid(), ::getgid(), 0},
      store_(container, cacheBytes / kBlockSize),
      reported_(new std::atomic<bool>[tree_.nodeCount() + 1]) {
  for (std::size_t i = 0; i <= tree_.nodeCount(); ++i) reported_[i] = false;
}

MountFileSystem::~MountFileSystem() = default;

MountFileSystem::OpenFile* MountFileSystem::openFile(NodeId id) {
  auto file = std::make_unique<OpenFile>();
  file->id = id;
  OpenFile* handle = file.get();
  std::lock_guard<std::mutex> guard(openLock_);
  open_.emplace(handle, std::move(file));
  return handle;
}

void MountFileSystem::releaseFile(OpenFile* file) {
  std::lock_guard<std::mutex> guard(openLock_);
  open_.erase(file);
}

void MountFileSystem::reportDamage(NodeId id) {
  if (reported_[id].exchange(true)) return;
  const std::string line = std::string(Message::DamagedItem) + terminalSafe(tree_.archivePath(id));
  // Once detached, standard error leads nowhere: the system's log has the line instead.
  if (detached_) {
    logSystemError(line);
  } else {
    std::cerr << line << "\n" << std::flush;
  }
}

long MountFileSystem::readPieces(NodeId id, std::uint64_t offset, std::size_t length, std::vector<Piece>& pieces) {
  pieces.clear();
  if (!tree_.contains(id) || tree_.node(id).folder) return -EISDIR;
  const MountNode& node = tree_.node(id);
  if (offset >= node.size || length == 0) return 0;
  const std::uint64_t end = std::min<std::uint64_t>(node.size, offset + length);
  if (offset >= node.readable) {
    reportDamage(id);
    return -EIO;
  }
  const std::uint64_t limit = std::min(end, node.readable);
  // The blocks the read spans that nobody has loaded yet are read together, not one by one.
  const std::vector<BlockStore::Run> runs = blockRuns(node, offset, limit);
  store_.fetch(runs.data(), runs.size());
  std::uint64_t at = offset;
  while (at < limit) {
    const std::uint32_t index = tree_.blockAt(node, at);
    BlockStore::BlockRef block = store_.get(index);
    if (block == nullptr) {
      reportDamage(id);
      if (at == offset) return -EIO;
      break;
    }
    const std::uint64_t within = at % kBlockSize;
    const std::uint64_t n = std::min(kBlockSize - within, limit - at);
    pieces.push_back(Piece{std::move(block), index, static_cast<std::size_t>(within), static_cast<std::size_t>(n)});
    at += n;
  }
  return static_cast<long>(at - offset);
}

long MountFileSystem::readFile(NodeId id, std::uint64_t offset, std::size_t length, std::uint8_t* out) {
  std::vector<Piece> pieces;
  const long got = readPieces(id, offset, length, pieces);
  for (const Piece& piece : pieces) {
    std::memcpy(out, piece.block->data() + piece.offset, piece.size);
    out += piece.size;
  }
  return got;
}

std::vector<BlockStore::Run> MountFileSystem::blockRuns(const MountNode& node, std::uint64_t from,
                                                        std::uint64_t to) const {
  std::vector<BlockStore::Run> runs;
  for (std::uint64_t at = from / kBlockSize * kBlockSize; at < to; at += kBlockSize) {
    const std::uint32_t block = tree_.blockAt(node, at);
    if (!runs.empty() && runs.back().first + runs.back().count == block) {
      ++runs.back().count;
    } else {
      runs.push_back({block, 1});
    }
  }
  return runs;
}

void MountFileSystem::forgetWholeBlocks(const std::vector<Piece>& pieces) {
  for (const Piece& piece : pieces) {
    if (piece.offset == 0 && piece.size == kBlockSize) store_.forget(piece.index);
  }
}

int MountFileSystem::run(const MountSettings& settings, Detachment* detachment) {
  ownership_ = {settings.options.uid.value_or(::getuid()), settings.options.gid.value_or(::getgid()),
                settings.options.umask};
  std::vector<std::string> arguments = {"sorvel mount", "-o", fuseOptionText(settings.options, settings.archivePath)};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());

  // Resolved before mounting: once mounted, a look at the folder would wait on this very process.
  const std::unique_ptr<char, decltype(&std::free)> realMountPoint(::realpath(settings.mountPoint.c_str(), nullptr),
                                                                   &std::free);
  const fuse_lowlevel_ops ops = makeOperations();
  fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, this);
  fuse_opt_free_args(&args);
  if (session == nullptr) return 1;
  int code = 1;
  if (fuse_set_signal_handlers(session) == 0) {
    if (fuse_session_mount(session, settings.mountPoint.c_str()) == 0) {
      // The kernel's read-ahead of a mount (128 KiB) also bounds the reads it sends: raised to the
      // largest read, a sequential reader costs a quarter of the requests. Only the superuser may;
      // others keep the default.
      if (realMountPoint != nullptr) setMountReadAhead(realMountPoint.get(), kLargestRead / 1024);
      // Without -f the command returns once told that the mount is in place; in the foreground
      // only the working folder is left.
      if (detachment != nullptr ? detachment->serving() : fuse_daemonize(1) == 0) {
        detached_ = detachment != nullptr;
        // Requests are answered one at a time, on this thread. With a pool of threads the kernel
        // hands each request to the thread that has waited longest, so every request wakes another
        // sleeping thread, whose caches are cold: measured, that cost more CPU than the pool saved
        // (a sequential 1 GiB read 0.47 -> 0.41 s, 10,000 random reads 0.48 -> 0.21 s, a walk of
        // 100,000 items 0.12 -> 0.07 s of the mount's CPU).
        code = fuse_session_loop(session) < 0 ? 1 : 0;  // a signal that ended it is no failure
      }
      fuse_session_unmount(session);
    }
    fuse_remove_signal_handlers(session);
  }
  fuse_session_destroy(session);
  return code;
}

}  // namespace sorvel::mount
