#pragma once
// The tar stream export writes: POSIX (pax) entries, written by libarchive to standard output
// (through StandardOutput.h), to
// a path written in place (a device or a pipe), or through a FileWriter. A file whose content
// stops short of its size is written as a sparse entry: the bytes it stores, then a hole up to
// its size, which takes no room in the tar and reads back as zeros.
//
// Every call that answers false leaves the stream broken; `error()` tells why.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileWriter.h"
#include "tree/ItemRecord.h"

struct archive;

namespace sorvel::tool {

class TarWriter {
 public:
  TarWriter();

  bool openStandardOutput();
  bool openPath(const std::string& path);
  // The tar goes to `file`, which must stay until `close`; committing it is the caller's.
  bool openWriter(FileWriter& file);
  // Ends the tar and writes what is buffered.
  bool close();
  std::string error() const;

  // One entry's header: a folder's path ends with "/". Mode 0755 or 0644, without the write
  // bits for a read-only item. A file of `size` bytes of which only the first `stored` are
  // content gets a hole for the rest.
  bool header(const std::string& path, const ItemRecord& record, std::uint64_t size, std::uint64_t stored);
  // The entry's bytes in order, up to its size; those that fall in its hole are not written.
  bool data(const std::uint8_t* bytes, std::size_t size);
  bool zeros(std::uint64_t count);

 private:
  struct Free {
    void operator()(struct archive* writer) const;
  };
  bool check(int status) const;
  std::unique_ptr<struct archive, Free> writer_;
};

}  // namespace sorvel::tool
