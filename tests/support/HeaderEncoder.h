#pragma once
// The plain 768-byte header and the plain 256-byte key block of a test archive.
#include <cstdint>
#include <string>

#include "base/Bytes.h"
#include "support/ArchiveDescription.h"

namespace sorvel::testing {

namespace disk {
inline constexpr char kArchiveMagic[] = "KOLMARD VALDO ARCHIVE";
}  // namespace disk

Bytes encodeHeader(const ArchiveSettings& settings, std::uint32_t lastBlock);

// Key block patches included; the chain entry count is the stated one unless the settings lie.
Bytes encodeKeyBlock(const ArchiveSettings& settings, std::uint32_t chainEntryCount);

// The 32 upper-case hexadecimal characters of the MD5 digest of `data`.
std::string upperHexMd5(const Bytes& data);

}  // namespace sorvel::testing
