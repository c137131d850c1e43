// The password prompt over scripted keys, and the normalisation of what was typed.
#include "app/PasswordEntry.h"

#include <gtest/gtest.h>

#include <sstream>
#include <ostream>
#include <string>
#include <vector>

namespace sorvel {
namespace {

// Hands out a fixed list of keys; running past its end is a test failure.
class ScriptedKeys final : public KeySource {
 public:
  explicit ScriptedKeys(std::vector<KeyEvent> keys) : keys_(std::move(keys)) {}
  KeyEvent next() override {
    if (position_ == keys_.size()) {
      ADD_FAILURE() << "the prompt read past the last key";
      return KeyEvent::enter();
    }
    return keys_[position_++];
  }
  bool allRead() const { return position_ == keys_.size(); }

 private:
  std::vector<KeyEvent> keys_;
  std::size_t position_ = 0;
};

KeyEvent ch(char16_t unit) { return KeyEvent::character(unit); }
const KeyEvent kEnter = KeyEvent::enter();
const KeyEvent kBackspace = KeyEvent::backspace();
const KeyEvent kSmiley = KeyEvent::surrogatePair(0xD83D, 0xDE00);

struct PromptCase {
  const char* name;
  std::vector<KeyEvent> keys;
  std::u16string password;
  std::string echo;  // everything written after the prompt
};

void PrintTo(const PromptCase& c, std::ostream* os) { *os << c.name; }

const PromptCase kPromptCases[] = {
    {"ThreeLetters", {ch('a'), ch('b'), ch('c'), kEnter}, u"abc", "***\n"},
    {"EnterAtOnce", {kEnter}, u"", "\n"},
    {"BackspaceRemovesLastUnit", {ch('a'), ch('b'), kBackspace, ch('c'), kEnter}, u"ac", "**\b \b*\n"},
    {"BackspaceOnEmptyWritesNothing",
     {kBackspace, ch('a'), kBackspace, kBackspace, ch('b'), kEnter},
     u"b",
     "*\b \b*\n"},
    {"CursorKeyDropped", {ch('a'), KeyEvent::prefix(224), ch('K'), ch('b'), kEnter}, u"ab", "**\n"},
    {"FunctionKeyDropped", {ch('a'), KeyEvent::prefix(0), ch(59), ch('b'), kEnter}, u"ab", "**\n"},
    // The code after a prefix is dropped whatever it is, even the code of Enter or Backspace.
    {"PrefixSwallowsEnter", {KeyEvent::prefix(224), kEnter, ch('x'), kEnter}, u"x", "*\n"},
    {"PrefixSwallowsBackspace", {ch('x'), KeyEvent::prefix(0), kBackspace, kEnter}, u"x", "*\n"},
    // Units that look like prefix codes, and control characters, are ordinary characters.
    {"PrefixLookalikesAreCharacters", {ch(224), ch(0), kEnter}, std::u16string(u"\u00E0\0", 2), "**\n"},
    {"ControlCharactersAreCharacters", {ch('\t'), ch('\n'), ch(27), kEnter}, u"\t\n\x1B", "***\n"},
    // A character outside the BMP is two units: two stars, two Backspaces to remove it.
    {"TwoUnitCharacter", {ch(0xD83D), ch(0xDE00), kEnter}, u"\U0001F600", "**\n"},
    {"TwoUnitCharacterErasedUnitByUnit", {ch(0xD83D), ch(0xDE00), kBackspace, kEnter}, u"\xD83D", "**\b \b\n"},
    // The same character typed at a terminal is one key: one star, one Backspace takes it whole.
    {"CharacterAsOneKeyIsOneStar", {kSmiley, kEnter}, u"\U0001F600", "*\n"},
    {"CharacterAsOneKeyErasedWhole", {ch('a'), kSmiley, kBackspace, ch('b'), kEnter}, u"ab", "**\b \b*\n"},
    // Back from a stop, the line starts again with the prompt and a star per key typed so far.
    {"ResumedShowsPromptAndStarsAgain",
     {ch('a'), kSmiley, KeyEvent::resumed(), ch('c'), kEnter},
     u"a\U0001F600c",
     "**\rPassword: ***\n"},
    {"ResumedThenBackspace",
     {ch('a'), ch('b'), KeyEvent::resumed(), kBackspace, kEnter},
     u"a",
     "**\rPassword: **\b \b\n"},
    {"ResumedBeforeAnyKey", {KeyEvent::resumed(), kEnter}, u"", "\rPassword: \n"},
};

class PromptTest : public ::testing::TestWithParam<PromptCase> {};

TEST_P(PromptTest, EchoesAndReturnsTheTypedUnits) {
  const PromptCase& c = GetParam();
  std::ostringstream out, err;
  Console console(out, err);
  ScriptedKeys keys(c.keys);

  EXPECT_EQ(readPassword(keys, console), c.password);
  EXPECT_EQ(out.str(), "Password: " + c.echo);
  EXPECT_EQ(err.str(), "");
  EXPECT_TRUE(keys.allRead());
}

std::string promptCaseName(const ::testing::TestParamInfo<PromptCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Keys, PromptTest, ::testing::ValuesIn(kPromptCases), promptCaseName);

TEST(PasswordPrompt, StopsReadingAtEnter) {
  std::ostringstream out, err;
  Console console(out, err);
  ScriptedKeys keys({ch('a'), kEnter, ch('b'), kEnter});
  EXPECT_EQ(readPassword(keys, console), u"a");
  EXPECT_FALSE(keys.allRead());
}

struct NormaliseCase {
  const char* name;
  std::u16string typed;
  Bytes expected;
};

void PrintTo(const NormaliseCase& c, std::ostream* os) { *os << c.name; }

const NormaliseCase kNormaliseCases[] = {
    {"Empty", u"", {}},
    {"Ascii", u"pass", {'p', 'a', 's', 's'}},
    {"FullWidthCapitalA", u"\uFF21", {0x41}},
    {"LigatureFi", u"\uFB01", {0x66, 0x69}},
    {"CombiningAcuteComposes", u"e\u0301", {0xC3, 0xA9}},
    {"TwoUnitCharacter", u"\U0001F600", {0xF0, 0x9F, 0x98, 0x80}},
    {"NulKept", std::u16string(u"a\0b", 3), {'a', 0x00, 'b'}},
    {"UnpairedHighSurrogate", u"a\xD83D", {}},
    {"UnpairedLowSurrogate", u"\xDE00z", {}},
    {"SurrogatesReversed", u"\xDE00\xD83D", {}},
};

class NormaliseTest : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(NormaliseTest, GivesNfkcUtf8OrNothing) {
  std::string problem;
  EXPECT_EQ(normalizePassword(GetParam().typed, problem), GetParam().expected);
  EXPECT_EQ(problem, "");  // the normaliser is there
}

std::string normaliseCaseName(const ::testing::TestParamInfo<NormaliseCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Texts, NormaliseTest, ::testing::ValuesIn(kNormaliseCases), normaliseCaseName);

}  // namespace
}  // namespace sorvel
