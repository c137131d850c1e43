// UTF-8 <-> UTF-16 for host text and archive names.
#include "platform/Utf16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace sorvel {
namespace {

struct DecodeCase {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

const DecodeCase kDecodeCases[] = {
    {"Empty", "", u""},
    {"AsciiWithNul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    {"TwoByte", "\xC3\xA9", u"\u00E9"},
    {"ThreeByte", "\xE2\x82\xAC", u"\u20AC"},
    {"FourByteGivesPair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
    {"HighestCodePoint", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    // Each ill-formed piece is one U+FFFD; the byte that breaks a sequence is decoded afresh.
    {"StrayContinuation", "a\x80z", u"a\uFFFDz"},
    {"ByteNeverValid", "\xFF\xC0\xC1\xF5", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"OverlongTwoByte", "\xC0\xAF", u"\uFFFD\uFFFD"},
    {"OverlongThreeByte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
    {"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"AboveUnicode", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"TruncatedThenAscii",
     "\xE2\x82"
     "A",
     u"\uFFFDA"},
    {"TruncatedThenNewSequence", "\xF0\x9F\xC3\xA9", u"\uFFFD\u00E9"},
    {"TruncatedAtEnd", "ok\xF0\x9F\x98", u"ok\uFFFD"},
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, ToUtf16) { EXPECT_EQ(toUtf16(GetParam().utf8), GetParam().utf16); }

std::string decodeCaseName(const ::testing::TestParamInfo<DecodeCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Bytes, DecodeTest, ::testing::ValuesIn(kDecodeCases), decodeCaseName);

struct EncodeCase {
  const char* name;
  std::u16string utf16;
  std::string lossy;
  bool strictFails;
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

const EncodeCase kEncodeCases[] = {
    {"Empty", u"", "", false},
    {"Nul", std::u16string(u"\0", 1), std::string("\0", 1), false},
    {"Boundaries", u"\u007F\u0080\u07FF\u0800\uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", false},
    {"Pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80", false},
    {"LoneHigh",
     u"a\xD83D"
     "b",
     "a\xEF\xBF\xBD"
     "b",
     true},
    {"LoneHighAtEnd", u"a\xD83D", "a\xEF\xBF\xBD", true},
    {"LoneLow", u"\xDE00", "\xEF\xBF\xBD", true},
    {"Reversed", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD", true},
    {"TwoHighsThenLow", u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80", true},
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, LossyAndStrict) {
  const EncodeCase& c = GetParam();
  EXPECT_EQ(toUtf8Lossy(c.utf16), c.lossy);
  const std::optional<std::string> strict = toUtf8Strict(c.utf16);
  if (c.strictFails) {
    EXPECT_FALSE(strict.has_value());
  } else {
    EXPECT_EQ(strict, c.lossy);
  }
}

std::string encodeCaseName(const ::testing::TestParamInfo<EncodeCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Units, EncodeTest, ::testing::ValuesIn(kEncodeCases), encodeCaseName);

TEST(Utf16, EveryCodePointSurvivesTheRoundTrip) {
  for (char32_t cp = 0; cp <= 0x10FFFF; cp += (cp < 0x800 ? 1 : 0x3F)) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::u16string units;
    if (cp < 0x10000) {
      units.push_back(static_cast<char16_t>(cp));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
    const std::optional<std::string> utf8 = toUtf8Strict(units);
    ASSERT_TRUE(utf8.has_value()) << std::hex << static_cast<std::uint32_t>(cp);
    ASSERT_EQ(toUtf16(*utf8), units) << std::hex << static_cast<std::uint32_t>(cp);
  }
}

}  // namespace
}  // namespace sorvel
