#pragma once
// Encrypts a test archive's key block and storage blocks the way the archive stores them. With an
// empty password everything stays plain. Where the chosen cipher yields nothing (a code without a
// cipher, XTS for the key block), the plain bytes are stored, which a reader cannot decrypt.
#include <cstdint>

#include "base/Bytes.h"
#include "crypto/CipherContext.h"
#include "support/ArchiveDescription.h"

namespace sorvel::testing {

class ArchiveSealer {
 public:
  explicit ArchiveSealer(const ArchiveSettings& settings);

  // The stored form of a 256-byte plain key block.
  Bytes sealKeyBlock(const Bytes& plain) const;

  // Replaces the 16384 plain bytes of storage block `block` with their stored form.
  void sealBlock(std::uint8_t* data, std::uint32_t block) const;

 private:
  bool encrypting_;
  CipherContext keyBlockCipher_;
  CipherContext dataCipher_;
};

}  // namespace sorvel::testing
