#pragma once
// The copies of the archive's header and decrypted key block, read once when it is opened. The
// key block's copy is wiped when the copies are reset and when they go.
#include <array>
#include <cstdint>

#include "archive/ArchiveFile.h"
#include "archive/ArchiveHeader.h"
#include "crypto/CipherContext.h"
#include "crypto/KeyBlock.h"

namespace sorvel {

class MetadataCopies {
 public:
  explicit MetadataCopies(const ArchiveFile& file) : file_(file) {}
  ~MetadataCopies();
  MetadataCopies(const MetadataCopies&) = delete;
  MetadataCopies& operator=(const MetadataCopies&) = delete;

  void resetCopies();
  // Reads the header from the file into the copy (zeros where the file is shorter) and copies
  // its kArchiveHeaderSize bytes to `out`; always true.
  bool readHeader(std::uint8_t* out);
  // Decrypts the stored key block with `keyBlockCipher` into the copy; false when the cipher
  // cannot. True without reading when no file is open.
  bool loadKeyBlock(const CipherContext& keyBlockCipher);
  const std::array<std::uint8_t, kKeyBlockSize>& keyBlock() const { return keyBlock_; }

 private:
  const ArchiveFile& file_;
  std::array<std::uint8_t, kArchiveHeaderSize> header_{};
  std::array<std::uint8_t, kKeyBlockSize> keyBlock_{};
};

}  // namespace sorvel
