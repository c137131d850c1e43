#include "platform/TerminalText.h"

#include <cstdint>
#include <optional>

#include "platform/Utf8Decoder.h"

namespace sorvel {

namespace {

bool isControl(char32_t codePoint) { return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F); }

void appendEscaped(char32_t value, std::string& out) {
  constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[(value >> 4) & 0xF];
  out += kHex[value & 0xF];
}

// The length and code point of the well-formed sequence at the start of `text`, if there is one.
std::optional<std::pair<std::size_t, char32_t>> sequenceAt(std::string_view text) {
  const std::optional<Utf8Lead> lead = utf8Lead(static_cast<std::uint8_t>(text[0]));
  if (!lead || text.size() <= static_cast<std::size_t>(lead->continuation)) return std::nullopt;
  char32_t codePoint = lead->bits;
  std::uint8_t low = lead->low;
  std::uint8_t high = lead->high;
  for (int i = 1; i <= lead->continuation; ++i) {
    const auto byte = static_cast<std::uint8_t>(text[static_cast<std::size_t>(i)]);
    if (byte < low || byte > high) return std::nullopt;
    codePoint = (codePoint << 6) | (byte & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return std::pair{static_cast<std::size_t>(lead->continuation) + 1, codePoint};
}

}  // namespace

std::string terminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto sequence = sequenceAt(text);
    if (!sequence) {
      appendEscaped(static_cast<std::uint8_t>(text[0]), out);
      text.remove_prefix(1);
      continue;
    }
    const auto [length, codePoint] = *sequence;
    if (isControl(codePoint)) {
      appendEscaped(codePoint, out);
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace sorvel
