#pragma once
// The archive's two ciphers, and the data blocks read and decrypted with them. The key block's
// cipher and the data cipher are keyed by the password check; every data block is decrypted by
// the data cipher, keyed per block number. The reads are safe from several threads at once.
#include <cstdint>

#include "archive/ArchiveFile.h"
#include "crypto/CipherContext.h"

namespace sorvel {

class BlockDecryptor {
 public:
  explicit BlockDecryptor(const ArchiveFile& file) : file_(file) {}

  CipherContext& keyBlockCipher() { return keyBlockCipher_; }
  const CipherContext& keyBlockCipher() const { return keyBlockCipher_; }
  CipherContext& dataCipher() { return dataCipher_; }
  const CipherContext& dataCipher() const { return dataCipher_; }
  const ArchiveFile& archiveFile() const { return file_; }

  // Reads and decrypts `count` consecutive blocks from `first` into `dst`. Bytes past the end of
  // the file are zeros before decryption. Of the last block only the first `lastBlockBytes` are
  // wanted; only they are read and decrypted (see decryptStoredBlock).
  bool readBlocksUncached(std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                          std::size_t lastBlockBytes = kBlockSize) const;

  // Decrypts the first `wanted` bytes of stored block `block` into `dst`. The ciphers work on
  // 16-byte units that decrypt the same whether or not the rest of the block follows, so only
  // `wanted` rounded up to a multiple of 16 bytes is decrypted and written (all 16384 when
  // `wanted` is 0 or more than a block).
  bool decryptStoredBlock(const std::uint8_t* stored, std::uint8_t* dst, std::size_t wanted, std::uint32_t block) const;
  static std::size_t decryptedLength(std::size_t wanted);

 private:
  const ArchiveFile& file_;
  CipherContext keyBlockCipher_;
  CipherContext dataCipher_;
};

}  // namespace sorvel
