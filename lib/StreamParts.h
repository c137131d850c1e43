#pragma once
// What a Stream holds: the archive it reads from, its item, its position, and the last block it
// read (reads of a few bytes at a time take them from there).
#include <cstdint>
#include <memory>

#include "base/Bytes.h"
#include "lib/LibraryParts.h"

namespace sorvel::api {

struct SORVEL_INTERNAL Stream::Impl {
  Impl(std::shared_ptr<Archive::Impl> archive, std::size_t index);
  ~Impl();
  const ItemInfo& info() const;
  // Reads at `offset`; `useCache` only from the stream's own thread (read, not readAt).
  Result<std::size_t> read(std::uint64_t offset, std::uint8_t* out, std::size_t length, bool useCache);

  std::uint64_t position = 0;

 private:
  std::shared_ptr<Archive::Impl> archive_;
  std::size_t index_;
  Bytes cached_;
  std::uint64_t cachedIndex_ = 0;
};

}  // namespace sorvel::api
