#pragma once
// Turns UTF-8 bytes, given one at a time, into UTF-16 code units. Each ill-formed piece (a byte
// that cannot start a sequence, or the longest prefix of a sequence that breaks off) becomes one
// U+FFFD, so decoding never stops and never swallows the byte that broke a sequence.
#include <cstdint>
#include <optional>
#include <string>

namespace sorvel {

inline constexpr char16_t kReplacementCharacter = 0xFFFD;

// What the first byte of a well-formed sequence opens: the number of continuation bytes, the
// range the first of them must lie in (no overlong forms, no surrogates, nothing above
// U+10FFFF; later ones lie in 0x80..0xBF) and the code point bits the byte carries. Nothing for
// a byte that cannot start a sequence.
struct Utf8Lead {
  int continuation;
  std::uint8_t low;
  std::uint8_t high;
  char32_t bits;
};
std::optional<Utf8Lead> utf8Lead(std::uint8_t byte);

class Utf8Decoder {
 public:
  // Appends the code units that `byte` completes (none while a sequence is still open).
  void feed(std::uint8_t byte, std::u16string& out);
  // Ends the input: an open sequence becomes U+FFFD.
  void finish(std::u16string& out);

 private:
  void start(std::uint8_t byte, std::u16string& out);
  static void append(char32_t codePoint, std::u16string& out);

  char32_t codePoint_ = 0;
  int remaining_ = 0;        // continuation bytes still expected
  std::uint8_t low_ = 0x80;  // allowed range of the next continuation byte
  std::uint8_t high_ = 0xBF;
};

}  // namespace sorvel
