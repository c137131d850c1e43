#pragma once
// The key block: 256 bytes at file offset 768, stored encrypted with the key block cipher. Its
// first 208 bytes, the key record, name the data cipher, carry its salt and the password digest
// and tell the size of the chain table. Integers are little-endian. The layout: docs/FORMAT.md,
// "Key block" and "Key record".
#include <array>
#include <cstddef>
#include <cstdint>

#include "base/Bytes.h"

namespace sorvel {

inline constexpr std::uint64_t kKeyBlockOffset = 768;
inline constexpr std::size_t kKeyBlockSize = 256;
inline constexpr std::size_t kKeyRecordSize = 208;

inline constexpr std::size_t kDataCipherTypeOffset = 3;
inline constexpr std::size_t kChainEntryCountOffset = 6;
inline constexpr std::size_t kPasswordDigestOffset = 10;
inline constexpr std::size_t kPasswordDigestSize = 32;
inline constexpr std::size_t kDataSaltOffset = 42;
inline constexpr std::size_t kDataSaltSize = 16;
inline constexpr std::size_t kKeyRecordSignatureOffset = 206;
inline constexpr std::size_t kKeyBlockEndSignatureOffset = 254;

inline constexpr std::uint16_t kKeyRecordSignature = 0xFF02;
inline constexpr std::uint16_t kKeyBlockEndSignature = 0xFF03;

struct KeyRecord {
  std::uint8_t dataCipherType = 0;
  std::uint32_t chainEntryCount = 0;
  std::array<std::uint8_t, kPasswordDigestSize> passwordDigest{};  // upper-case hex MD5, no terminator
  std::array<std::uint8_t, kDataSaltSize> dataSalt{};
  std::uint16_t keyRecordSignature = 0;

  // Reads the fields from the first kKeyRecordSize bytes at `bytes`.
  static KeyRecord parse(const std::uint8_t* bytes);
  // Writes the fields into the first kKeyRecordSize bytes at `bytes`; reserved bytes are left alone.
  void writeTo(std::uint8_t* bytes) const;
};

struct KeyBlock {
  KeyRecord record;
  std::uint16_t keyBlockEndSignature = 0;

  // Reads the fields from kKeyBlockSize decrypted bytes at `bytes`.
  static KeyBlock parse(const std::uint8_t* bytes);
  // The 256 plain bytes, reserved bytes zero.
  Bytes serialise() const;
};

}  // namespace sorvel
