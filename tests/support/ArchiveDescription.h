#pragma once
// What a test archive should hold: its items, the layout of their block chains, the archive-wide
// settings, and the deliberate damage to apply. Every field has a default that gives a sound
// archive; tests change only what they are about.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "support/ContentGenerator.h"

namespace sorvel::testing {

// The format's sizes and offsets, kept apart from the names the reader uses.
namespace disk {
inline constexpr std::uint64_t kHeaderSize = 768;
inline constexpr std::uint64_t kKeyBlockOffset = 768;
inline constexpr std::uint64_t kKeyBlockSize = 256;
inline constexpr std::uint64_t kChainTableOffset = 1024;
inline constexpr std::size_t kBlockSize = 16384;
inline constexpr std::size_t kEntrySize = 48;
inline constexpr std::size_t kNameUnitsPerEntry = 20;
inline constexpr std::uint8_t kFolderAttribute = 0x10;
}  // namespace disk

using BlockList = std::vector<std::uint32_t>;

// Raw bytes written over a region, growing the target when they reach past its end.
struct BytePatch {
  std::uint64_t offset = 0;
  Bytes bytes;
};

// Replacements for fields of an item's directory group that a sound archive never varies.
struct EntryOverrides {
  std::optional<std::uint8_t> groupFlags;      // default 0x40 | number of name entries
  std::optional<std::uint8_t> nameMarker;      // default 0x0F (first name entry, byte 1)
  std::optional<std::uint16_t> nameSignature;  // default 0xFF04, every name entry of the group
  std::optional<std::uint16_t> itemSignature;  // default 0xFF05
  std::optional<std::size_t> nameEntryCount;   // default enough for the name (at least 1); units
                                               // that do not fit are dropped
};

// How a folder's directory is stored.
struct DirectoryOptions {
  std::optional<BlockList> blocks;  // the directory chain; at least as many blocks as it needs
  std::optional<Bytes> raw;         // the whole directory content, instead of the encoded entries
  Bytes trailing;                   // appended behind the encoded entries
  bool allocate = true;             // false: no chain at all (stored first block 0)
};

// One folder or file of the archive.
struct Item {
  // Backslash-separated, without a leading backslash; fixed when the item is added.
  std::u16string path;
  bool isFolder = false;

  // File content: `content`, or `generatedSize` bytes of `generator` when one is set.
  Bytes content;
  std::uint64_t generatedSize = 0;
  ContentGenerator generator;

  std::int64_t created = 1600000000;
  std::int64_t modified = 1600000100;
  std::int64_t accessed = 1600000200;
  std::uint8_t attributes = 0x20;  // 0 for added folders; folders get 0x10 added when encoded

  std::optional<std::uint64_t> storedSize;   // default: the content's length (0 for folders)
  std::optional<std::uint32_t> firstBlock;   // stored instead of the chain's first block
  std::optional<BlockList> blocks;           // the content chain of a file
  std::optional<std::u16string> storedName;  // name units stored instead of the path's last part
  EntryOverrides entry;
  bool noise = false;          // fill the bytes of the group that a reader must not look at
  DirectoryOptions directory;  // folders only

  std::uint64_t contentSize() const { return generator ? generatedSize : content.size(); }
};

// Header, key block and whole-file settings.
struct ArchiveSettings {
  Bytes password;                   // UTF-8; empty: nothing is encrypted
  std::uint8_t keyBlockCipher = 1;  // header byte 55
  std::uint8_t dataCipher = 1;      // key block byte 3
  std::uint8_t authType = 1;
  std::optional<std::uint8_t> noPassword;  // default 1 for an empty password, else 0
  std::array<std::uint8_t, 16> keySalt{0x4B, 0x53, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
                                       0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD};
  std::array<std::uint8_t, 16> dataSalt{0x44, 0x53, 0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5,
                                        0x96, 0x87, 0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x00};
  std::uint16_t paramWord = 0;
  std::optional<std::uint32_t> lastBlock;  // default: the highest block in use (2 when none is)

  // Chain table length, which also places the data area. Default: highest block in use + 1
  // + extraChainEntries.
  std::optional<std::uint32_t> chainEntryCount;
  std::uint32_t extraChainEntries = 0;
  std::optional<std::uint32_t> statedChainEntryCount;  // key block value, when it should lie

  std::optional<Bytes> magic;  // up to 32 bytes at offset 0; default the magic text and a NUL
  std::uint16_t headerSignature = 0xFF01;
  std::uint16_t keyRecordSignature = 0xFF02;
  std::uint16_t keyBlockEndSignature = 0xFF03;
  std::optional<std::string> passwordDigest;  // default: upper-case hex MD5 of the password

  // Damage. Key block patches hit the plain key block before it is encrypted; chain overrides
  // replace table entries; the file is then cut or zero-extended to fileSize and patched.
  std::vector<BytePatch> keyBlockPatches;
  std::map<std::uint32_t, std::uint32_t> chainOverrides;
  std::optional<std::uint64_t> fileSize;
  std::vector<BytePatch> patches;
};

}  // namespace sorvel::testing
