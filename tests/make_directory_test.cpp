#include "platform/MakeDirectory.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

TEST(MakeDirectory, ReportsWhetherADirectoryIsThereAfterwards) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> setUp;  // prepares what is at `path`
    bool existsAsDirectory;
    int error;
  };
  const std::vector<Case> cases = {
      {"new", [](const std::string&) {}, true, 0},
      {"existing_directory", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }, true, EEXIST},
      {"existing_file", [](const std::string& p) { std::ofstream(p) << "x"; }, false, EEXIST},
      {"link_to_directory",
       [](const std::string& p) {
         ASSERT_EQ(::mkdir((p + "-real").c_str(), 0700), 0);
         ASSERT_EQ(::symlink((p + "-real").c_str(), p.c_str()), 0);
       },
       true, EEXIST},
      {"dangling_link", [](const std::string& p) { ASSERT_EQ(::symlink((p + "-nowhere").c_str(), p.c_str()), 0); },
       false, EEXIST},
  };
  testing::TempDir root;
  ASSERT_FALSE(root.path().empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = root.path() + "/" + c.name;
    c.setUp(path);
    const MakeDirectoryResult result = makeDirectory(path);
    EXPECT_EQ(result.existsAsDirectory, c.existsAsDirectory);
    EXPECT_EQ(static_cast<bool>(result), c.existsAsDirectory);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.created(), c.existsAsDirectory && c.error == 0);
  }
}

TEST(MakeDirectory, NewDirectoryTakesItsModeFromTheUmask) {
  testing::TempDir root;
  const mode_t old = ::umask(027);
  const MakeDirectoryResult result = makeDirectory(root.path() + "/d");
  ::umask(old);
  ASSERT_TRUE(result.created());
  struct stat st {};
  ASSERT_EQ(::stat((root.path() + "/d").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0750u);
}

TEST(MakeDirectory, MakesNoParents) {
  testing::TempDir root;
  const MakeDirectoryResult result = makeDirectory(root.path() + "/missing/child");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error, ENOENT);
  EXPECT_FALSE(fs::exists(root.path() + "/missing"));
}

}  // namespace
}  // namespace sorvel
