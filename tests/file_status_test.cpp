// What the status query says about the things a path can name.
#include "platform/FileStatus.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/TempDir.h"

namespace sorvel {
namespace {

TEST(FileStatus, TellsWhatThePathNames) {
  testing::TempDir dir;
  const std::string file = dir.writeFile("file", "x");
  dir.makeDir("folder");
  ASSERT_EQ(::symlink("file", dir.file("link").c_str()), 0);
  ASSERT_EQ(::symlink("folder", dir.file("folderLink").c_str()), 0);
  ASSERT_EQ(::symlink("nothing", dir.file("dangling").c_str()), 0);
  ASSERT_EQ(::symlink("loop", dir.file("loop").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);

  struct Case {
    std::string path;
    FileKind kind;
    int error;
  };
  const Case cases[] = {
      {file, FileKind::Regular, 0},
      {dir.file("link"), FileKind::Regular, 0},
      {dir.file("folder"), FileKind::Other, 0},
      {dir.file("folderLink"), FileKind::Other, 0},
      {dir.file("fifo"), FileKind::Other, 0},
      {"/dev/null", FileKind::Other, 0},
      {dir.file("missing"), FileKind::Absent, ENOENT},
      {dir.file("missing/inner"), FileKind::Absent, ENOENT},
      {dir.file("file/inner"), FileKind::Absent, ENOTDIR},
      {dir.file("dangling"), FileKind::Absent, ENOENT},
      {"", FileKind::Absent, ENOENT},
      {dir.file("loop"), FileKind::Error, ELOOP},
      {dir.file(std::string(300, 'n')), FileKind::Error, ENAMETOOLONG},
  };
  for (const Case& c : cases) {
    const FileStatus status = queryFileStatus(c.path);
    EXPECT_EQ(status.kind, c.kind) << c.path;
    EXPECT_EQ(status.error, c.error) << c.path;
  }
}

}  // namespace
}  // namespace sorvel
