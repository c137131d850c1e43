#include "platform/Utf8Decoder.h"

namespace sorvel {

void Utf8Decoder::append(char32_t codePoint, std::u16string& out) {
  if (codePoint < 0x10000) {
    out.push_back(static_cast<char16_t>(codePoint));
    return;
  }
  const char32_t offset = codePoint - 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
}

std::optional<Utf8Lead> utf8Lead(std::uint8_t byte) {
  if (byte < 0x80) return Utf8Lead{0, 0x80, 0xBF, byte};
  if (byte >= 0xC2 && byte <= 0xDF) return Utf8Lead{1, 0x80, 0xBF, byte & 0x1Fu};
  if (byte >= 0xE0 && byte <= 0xEF) {
    return Utf8Lead{2, static_cast<std::uint8_t>(byte == 0xE0 ? 0xA0 : 0x80),
                    static_cast<std::uint8_t>(byte == 0xED ? 0x9F : 0xBF), byte & 0x0Fu};
  }
  if (byte >= 0xF0 && byte <= 0xF4) {
    return Utf8Lead{3, static_cast<std::uint8_t>(byte == 0xF0 ? 0x90 : 0x80),
                    static_cast<std::uint8_t>(byte == 0xF4 ? 0x8F : 0xBF), byte & 0x07u};
  }
  return std::nullopt;
}

void Utf8Decoder::start(std::uint8_t byte, std::u16string& out) {
  const std::optional<Utf8Lead> lead = utf8Lead(byte);
  if (!lead) {
    out.push_back(kReplacementCharacter);
  } else if (lead->continuation == 0) {
    out.push_back(byte);
  } else {
    codePoint_ = lead->bits;
    remaining_ = lead->continuation;
    low_ = lead->low;
    high_ = lead->high;
  }
}

void Utf8Decoder::feed(std::uint8_t byte, std::u16string& out) {
  if (remaining_ == 0) {
    start(byte, out);
    return;
  }
  if (byte < low_ || byte > high_) {
    // The open sequence is broken; the byte itself may well start something valid.
    remaining_ = 0;
    out.push_back(kReplacementCharacter);
    start(byte, out);
    return;
  }
  codePoint_ = (codePoint_ << 6) | (byte & 0x3Fu);
  low_ = 0x80;
  high_ = 0xBF;
  if (--remaining_ == 0) append(codePoint_, out);
}

void Utf8Decoder::finish(std::u16string& out) {
  if (remaining_ != 0) out.push_back(kReplacementCharacter);
  remaining_ = 0;
}

}  // namespace sorvel
