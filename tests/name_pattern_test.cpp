#include "tree/NamePattern.h"

#include <gtest/gtest.h>

#include <string>

namespace sorvel {
namespace {

TEST(NamePattern, MatchesAsShellPatternsWithTheNameRule) {
  struct Case {
    std::u16string pattern, text;
    bool kept;     // the answer when separators are kept
    bool crossed;  // the answer when wildcards cross them
  };
  const Case cases[] = {
      {u"readme.txt", u"readme.txt", true, true},
      {u"README.TXT", u"readme.txt", true, true},    // A-Z folded
      {u"\u00C9cole", u"\u00E9cole", false, false},  // other letters are not
      {u"*.txt", u"readme.txt", true, true},
      {u"*.TXT", u"a.txt", true, true},
      {u"*.txt", u"readme.txt2", false, false},
      {u"*", u"", true, true},
      {u"?", u"", false, false},
      {u"a*b*c", u"aXXbYYbZc", true, true},  // the last star gives way, not the first
      {u"a*b", u"aXbXc", false, false},
      {u"**x", u"abx", true, true},
      {u"docs\\*.txt", u"docs\\readme.txt", true, true},
      {u"docs\\*.txt", u"docs\\notes\\a.txt", false, true},  // '*' crosses a separator only when told
      {u"*", u"docs\\readme.txt", false, true},
      {u"docs?notes", u"docs\\notes", false, true},  // so does '?'
      {u"d*s\\n*", u"docs\\notes", true, true},
      {u"*\\*\\*", u"docs\\notes\\a.txt", true, true},
      {u"*\\*", u"docs\\notes\\a.txt", false, true},
      {u"?", u"\U0001F600", true, true},  // a surrogate pair is one character
      {u"??", u"\U0001F600", false, false},
      {u"[\U0001F600x]", u"\U0001F600", true, true},
      {u"[abc].txt", u"b.txt", true, true},
      {u"[abc].txt", u"B.txt", true, true},
      {u"[ABC].txt", u"b.txt", true, true},
      {u"[a-c]", u"C", true, true},
      {u"[A-C]", u"c", true, true},
      {u"[a-c]", u"d", false, false},
      {u"[!a-c]", u"d", true, true},
      {u"[^a-c]", u"b", false, false},
      {u"[]x]", u"]", true, true},  // ']' first is one of the set
      {u"[!]]", u"]", false, false},
      {u"[a-]", u"-", true, true},  // '-' last is itself
      {u"[*]", u"*", true, true},   // a wildcard made literal
      {u"[*]", u"a", false, false},
      {u"[?]x", u"?x", true, true},
      {u"[ab", u"[ab", true, true},  // no ']': the '[' is itself
      {u"[ab", u"a", false, false},
      {u"a[\\]b", u"a\\b", false, true},  // no set holds a kept separator
      {u"a[\\]b", u"a[\\]b", true, false},
      {u"[!x]", u"\\", false, true},
      {u"", u"", true, true},
      {u"", u"a", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern.begin(), c.pattern.end()) + " | " + std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(matchesPattern(c.pattern, c.text, Separators::Kept), c.kept);
    EXPECT_EQ(matchesPattern(c.pattern, c.text, Separators::CrossedByWildcards), c.crossed);
  }
}

TEST(NamePattern, TellsWildcardsFromPlainPaths) {
  EXPECT_TRUE(hasWildcards(u"docs\\*.txt"));
  EXPECT_TRUE(hasWildcards(u"a?"));
  EXPECT_TRUE(hasWildcards(u"[ab]"));
  EXPECT_FALSE(hasWildcards(u"docs\\readme.txt"));
  EXPECT_FALSE(hasWildcards(u"a]b{c}"));
}

}  // namespace
}  // namespace sorvel
