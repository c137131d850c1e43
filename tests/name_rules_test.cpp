#include "tree/NameRules.h"

#include <gtest/gtest.h>

namespace sorvel {
namespace {

TEST(CompareNames, FoldsOnlyAsciiLettersAndComparesUnitsUnsigned) {
  struct Case {
    std::u16string a, b;
    int expected;
  };
  const Case cases[] = {
      {u"Readme.TXT", u"readme.txt", 0},
      {u"abc", u"abd", -1},
      {u"ab", u"abc", -1},  // a prefix comes first
      {u"abc", u"ab", 1},
      {u"\u00C9cole", u"\u00E9cole", -1},  // É and é are different letters here
      {u"_x", u"LONG", -1},                // '_' (0x5F) sorts before the folded 'l' (0x6C)
      {u"Zeta", u"_under", 1},             // 'z' (0x7A) after '_'
      {u"\U0001F600", u"\uFF41", -1},      // a surrogate (0xD83D) before U+FF41
      {u"[", u"a", -1},                    // '[' is not folded although it lies between 'Z' and 'a'
      {u"", u"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareNames(c.a, c.b), c.expected);
    EXPECT_EQ(compareNames(c.b, c.a), -c.expected);
  }
}

TEST(NameMap, KeepsTheFirstSpellingAndTakesTheNewValue) {
  NameMap<int> map;
  insertOrReplace(map, u"Docs", 1);
  insertOrReplace(map, u"DOCS", 2);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.begin()->first, u"Docs");
  EXPECT_EQ(map.begin()->second, 2);
}

TEST(SplitPath, CutsAtBackslashesOnlyAndDropsEmptyPieces) {
  using V = std::vector<std::u16string>;
  EXPECT_EQ(splitPath(u"\\"), V{});
  EXPECT_EQ(splitPath(u""), V{});
  EXPECT_EQ(splitPath(u"\\\\\\"), V{});
  EXPECT_EQ(splitPath(u"\\a\\\\b\\"), (V{u"a", u"b"}));
  EXPECT_EQ(splitPath(u"a/b\\c"), (V{u"a/b", u"c"}));
}

TEST(PathStrings, TreatBothSeparatorsAlike) {
  struct Case {
    std::u16string in, stripped, prefix, parent, leaf;
  };
  const Case cases[] = {
      {u"", u"", u"\\", u"", u""},
      {u"\\", u"\\", u"\\", u"\\", u""},
      {u"//\\", u"/", u"\\", u"//\\", u""},
      {u"\\a\\b\\", u"\\a\\b", u"\\a\\b\\", u"\\a\\b\\", u""},
      {u"\\a/b", u"\\a/b", u"\\a/b\\", u"\\a/", u"b"},
      {u"name", u"name", u"name\\", u"", u"name"},
      {u"C:\\out\\/", u"C:\\out", u"C:\\out\\", u"C:\\out\\/", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stripTrailingSeparators(c.in), c.stripped);
    EXPECT_EQ(folderPrefix(c.in), c.prefix);
    EXPECT_EQ(parentPath(c.in), c.parent);
    EXPECT_EQ(leafName(c.in), c.leaf);
  }
  EXPECT_TRUE(isRootPath(u"\\"));
  EXPECT_FALSE(isRootPath(u"/"));
  EXPECT_FALSE(isRootPath(u"\\\\"));
  EXPECT_FALSE(isRootPath(u""));
}

}  // namespace
}  // namespace sorvel
