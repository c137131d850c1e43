#pragma once
// Hex text <-> bytes for known-answer tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Bytes.h"

namespace sorvel::testing {

// Hex digits to bytes; spaces and colons between digits are skipped.
inline Bytes hexBytes(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Bytes out;
  int high = -1;
  for (char c : hex) {
    const int value = nibble(c);
    if (value < 0) continue;
    if (high < 0) {
      high = value;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + value));
      high = -1;
    }
  }
  return out;
}

inline std::string toHex(const std::uint8_t* data, std::size_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 0x0F]);
  }
  return out;
}

inline std::string toHex(const Bytes& bytes) { return toHex(bytes.data(), bytes.size()); }

inline Bytes textBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace sorvel::testing
