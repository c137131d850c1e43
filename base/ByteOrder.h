#pragma once
// Fixed-width integer coding for the archive's on-disk records. Everything on disk is
// little-endian except the block number inside the XTS tweak, which is big-endian.
#include <cstdint>

namespace sorvel {

inline std::uint16_t loadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

inline std::uint32_t loadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t loadU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(loadU32(p)) | (static_cast<std::uint64_t>(loadU32(p + 4)) << 32);
}

inline std::int64_t loadI64(const std::uint8_t* p) { return static_cast<std::int64_t>(loadU64(p)); }

inline void storeU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void storeU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void storeU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void storeI64(std::uint8_t* p, std::int64_t v) { storeU64(p, static_cast<std::uint64_t>(v)); }

inline void storeU32BigEndian(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

}  // namespace sorvel
