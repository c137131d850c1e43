#pragma once
// The bytes of one stored object, delivered in order in pieces.
#include <cstddef>
#include <cstdint>

#include "archive/ChainTable.h"

namespace sorvel {

class ContentSource {
 public:
  virtual ~ContentSource() = default;
  // What the object's chain can deliver of the wanted bytes (0 for a free or broken chain).
  virtual std::uint64_t expected() const = 0;
  // Why the chain delivers less than wanted, if it does (Whole when it does not).
  virtual ChainTable::ContentEnd end() const = 0;
  virtual std::uint64_t delivered() const = 0;
  // The next piece, or an empty piece at the end (or after a block failed to read). The piece
  // stays valid until the next call.
  struct Piece {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
  };
  virtual Piece next() = 0;
  // The caller wants nothing more of this object: what is left is neither read nor decrypted.
  virtual void abandon() = 0;
};

}  // namespace sorvel
