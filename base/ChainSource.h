#pragma once
// The stored objects of an archive as the folder tree reads them: each is a chain named by its
// first block, opened for one purpose and read as a ByteSource. The archive layer implements it
// over its container; whoever reads through it sees neither blocks nor ciphers.
#include <cstdint>
#include <memory>

#include "base/ByteSource.h"

namespace sorvel {

class ChainSource {
 public:
  virtual ~ChainSource() = default;

  // Forgets which blocks directories were read from: a new tree is about to be read.
  virtual void startTree() = 0;

  // A directory's bytes, whole. Directories never share blocks: the chain ends before the first
  // block a directory of this tree was already read from (then `cut` is set), and the blocks it
  // keeps count as read from now on. `bytes` is null when the chain holds nothing readable;
  // `cut` stays set with a null `bytes` only when the cut itself left nothing.
  struct Directory {
    std::unique_ptr<ByteSource> bytes;
    bool cut = false;
  };
  virtual Directory openDirectory(std::uint32_t firstBlock) = 0;

  // The bytes of a stored object as far as the archive file holds them (an item detail file,
  // whose records must not make the reader go past what is stored); null when none is readable.
  virtual std::unique_ptr<ByteSource> openStored(std::uint32_t firstBlock) = 0;

  // The size of the archive file: bounds on the work a tree may cost grow with it.
  virtual std::uint64_t archiveSize() const = 0;
};

}  // namespace sorvel
