// The example archive of the README, as committed, extracts with its documented password.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ProcessRunner.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

TEST(ExampleArchive, ExtractsWithTheDocumentedPassword) {
  testing::TempDir dir;
  const std::string archive = std::string(SORVEL_SOURCE_DIR) + "/examples/sample.sva";
  const auto result = testing::runSorvel({archive, dir.file("out")}, "sorvel-example\n", dir.path());
  EXPECT_EQ(result.exitCode, 0) << result.stderrText;
  EXPECT_EQ(result.stdoutLines().back(), "Archive extracted successfully! ");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("out/docs/notes/frozen.txt")));
  EXPECT_EQ(std::filesystem::file_size(dir.file("out/data/random.bin")), 50000u);
}

}  // namespace
}  // namespace sorvel
