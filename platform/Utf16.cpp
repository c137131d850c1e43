#include "platform/Utf16.h"

#include <algorithm>

#include "base/Bytes.h"
#include "platform/Utf8Decoder.h"

namespace sorvel {

namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(char32_t codePoint, std::string& out) {
  auto put = [&out](char32_t bits) { out.push_back(static_cast<char>(static_cast<unsigned char>(bits))); };
  if (codePoint < 0x80) {
    put(codePoint);
  } else if (codePoint < 0x800) {
    put(0xC0 | (codePoint >> 6));
    put(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    put(0xE0 | (codePoint >> 12));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  } else {
    put(0xF0 | (codePoint >> 18));
    put(0x80 | ((codePoint >> 12) & 0x3F));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  }
}

// Encodes the input; an unpaired surrogate gives U+FFFD when `lossy`, else stops with false.
bool encode(std::u16string_view utf16, bool lossy, std::string& out) {
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (isHighSurrogate(unit) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
      const char32_t high = unit - 0xD800u;
      const char32_t low = utf16[++i] - 0xDC00u;
      appendUtf8(0x10000 + (high << 10) + low, out);
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      if (!lossy) return false;
      appendUtf8(kReplacementCharacter, out);
    } else {
      appendUtf8(unit, out);
    }
  }
  return true;
}

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  Utf8Decoder decoder;
  for (const char c : utf8) decoder.feed(static_cast<std::uint8_t>(c), out);
  decoder.finish(out);
  return out;
}

std::optional<std::string> toUtf8Strict(std::u16string_view utf16) {
  // The text is a password: its bytes are written once, into a buffer of room for the longest
  // encoding (3 bytes per unit) and never inside the string object itself, so that no outgrown
  // buffer and no string moved from keeps a copy.
  std::optional<std::string> out(std::in_place);
  out->reserve(std::max<std::size_t>(3 * utf16.size(), 2 * out->capacity()));
  if (!encode(utf16, false, *out)) {
    out->resize(out->capacity());
    secureWipe(out->data(), out->size());
    return std::nullopt;
  }
  return out;
}

std::string toUtf8Lossy(std::u16string_view utf16) {
  std::string out;
  encode(utf16, true, out);
  return out;
}

}  // namespace sorvel
