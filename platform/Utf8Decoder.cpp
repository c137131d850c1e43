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

void Utf8Decoder::start(std::uint8_t byte, std::u16string& out) {
  low_ = 0x80;
  high_ = 0xBF;
  if (byte < 0x80) {
    out.push_back(byte);
  } else if (byte >= 0xC2 && byte <= 0xDF) {
    codePoint_ = byte & 0x1Fu;
    remaining_ = 1;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    codePoint_ = byte & 0x0Fu;
    remaining_ = 2;
    // No overlong forms, no surrogates.
    if (byte == 0xE0) low_ = 0xA0;
    if (byte == 0xED) high_ = 0x9F;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    codePoint_ = byte & 0x07u;
    remaining_ = 3;
    // No overlong forms, nothing above U+10FFFF.
    if (byte == 0xF0) low_ = 0x90;
    if (byte == 0xF4) high_ = 0x8F;
  } else {
    out.push_back(kReplacementCharacter);
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
