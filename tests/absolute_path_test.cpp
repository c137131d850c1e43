// Absolute paths made from text alone.
#include "platform/AbsolutePath.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace sorvel {
namespace {

struct JoinCase {
  const char* path;
  const char* base;
  const char* expected;
};

TEST(AbsolutePath, FoldsDotsAndSeparatorsLexically) {
  const JoinCase cases[] = {
      {"a.sva", "/work", "/work/a.sva"},
      {"./a/./b", "/work", "/work/a/b"},
      {"../a", "/work/sub", "/work/a"},
      {"sub/../../..", "/work", "/"},
      {"..", "/", "/"},
      {".", "/work", "/work"},
      {"a/..", "/work", "/work"},
      {"a//b", "/work/", "/work/a/b"},
      {".../b", "/work", "/work/.../b"},  // three dots are a name
      {"/abs//x/./y", "/work", "/abs/x/y"},
      {"/", "/work", "/"},
      // A trailing separator stays.
      {"out/", "/work", "/work/out/"},
      {"out//", "/work", "/work/out/"},
      {"./", "/work", "/work/"},
      {"a/../", "/work", "/work/"},
      {"/x/", "/work", "/x/"},
      {"", "/work", ""},
  };
  for (const JoinCase& c : cases) EXPECT_EQ(absoluteAgainst(c.path, c.base), c.expected) << c.path << " in " << c.base;
}

TEST(AbsolutePath, RelativePathsJoinTheCurrentDirectory) {
  const std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
  ASSERT_TRUE(current);
  int error = -1;
  EXPECT_EQ(makeAbsolute("x/../name", error), std::string(current.get()) + "/name");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(makeAbsolute("/etc/../tmp/", error), "/tmp/");
  EXPECT_EQ(makeAbsolute("", error), "");
  EXPECT_EQ(error, 0);
}

}  // namespace
}  // namespace sorvel
