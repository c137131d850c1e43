#pragma once
// The plain 768-byte header at the start of every archive file: what identifies the file, the
// cipher of the key block and its salt, whether a password is asked for, and how far the data
// area is in use. Integers are little-endian; bytes not named here are not read. The layout:
// docs/FORMAT.md, "Header".
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sorvel {

inline constexpr std::size_t kArchiveHeaderSize = 768;
// Compared as a NUL-terminated string: the byte after it must be 0, the rest of the field is free.
inline constexpr std::string_view kArchiveMagic = "KOLMARD VALDO ARCHIVE";
inline constexpr std::uint16_t kHeaderSignature = 0xFF01;
// The header's version marks: an archive is of a known version when its authentication type is
// kKnownAuthType or its key block cipher is kKnownVersionCipher; authentication types
// kFirstUnsupportedAuthType..kLastUnsupportedAuthType are refused as unsupported.
inline constexpr std::uint8_t kKnownAuthType = 1;
inline constexpr std::uint8_t kKnownVersionCipher = 2;
inline constexpr std::uint8_t kFirstUnsupportedAuthType = 2;
inline constexpr std::uint8_t kLastUnsupportedAuthType = 3;
// The largest paramWord an archive may state (its meaning beyond that limit is unknown).
inline constexpr std::uint16_t kMaxParamWord = 256;

struct ArchiveHeader {
  static constexpr std::size_t kMagicSize = 32;
  static constexpr std::size_t kSaltSize = 16;

  // Field offsets.
  static constexpr std::size_t kMagicOffset = 0;
  static constexpr std::size_t kParamWordOffset = 32;
  static constexpr std::size_t kLastBlockOffset = 34;
  static constexpr std::size_t kKeySaltOffset = 38;
  static constexpr std::size_t kAuthTypeOffset = 54;
  static constexpr std::size_t kCipherTypeOffset = 55;
  static constexpr std::size_t kNoPasswordOffset = 56;
  static constexpr std::size_t kSignatureOffset = 766;

  std::array<std::uint8_t, kMagicSize> magic{};
  std::uint16_t paramWord = 0;
  std::uint32_t lastBlock = 0;
  std::array<std::uint8_t, kSaltSize> keySalt{};
  std::uint8_t authType = 0;
  std::uint8_t cipherType = 0;
  std::uint8_t noPassword = 0;
  std::uint16_t headerSignature = 0;

  // Reads the fields from kArchiveHeaderSize bytes at `bytes`.
  static ArchiveHeader parse(const std::uint8_t* bytes);
  // The 768 bytes on disk; unnamed bytes are zero.
  std::array<std::uint8_t, kArchiveHeaderSize> serialize() const;

  bool magicMatches() const;
  // Sets `magic` to the archive magic followed by zeros.
  void setMagic();
};

}  // namespace sorvel
