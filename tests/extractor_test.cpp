#include "app/Extractor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Utf16.h"
#include "support/ArchiveBuilder.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One extractor, used for several walks: the folders it kept open during a walk must not outlive
// it, or a second walk into a folder made anew would write into the one that is gone.
TEST(ExtractorWalks, ASecondWalkIntoAFolderMadeAnewWritesEverything) {
  testing::TempDir dir;
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf("pw");
  builder.addFile(u"a.txt", "alpha");
  builder.addFile(u"b.txt", "beta");
  const std::string archivePath = dir.file("walks.sva");
  ASSERT_TRUE(builder.writeTo(archivePath));
  Archive archive;
  ASSERT_TRUE(archive.checkPassword(archivePath, testing::bytesOf("pw")));
  ASSERT_TRUE(archive.open(archivePath));

  std::vector<std::string> reports;
  Extractor extractor(archive, [&reports](const std::string& line) { reports.push_back(line); });
  const std::string out = dir.file("out");
  for (int walk = 0; walk < 2; ++walk) {  // each walk ends and starts in the output folder itself
    SCOPED_TRACE(walk);
    fs::remove_all(out);
    EXPECT_TRUE(extractor.extract(u"\\", out));
    EXPECT_EQ(readText(out + "/a.txt"), "alpha");
    EXPECT_EQ(readText(out + "/b.txt"), "beta");
  }
  for (int item = 0; item < 2; ++item) {  // single items, likewise
    SCOPED_TRACE(item);
    fs::remove_all(out);
    fs::create_directory(out);
    EXPECT_TRUE(extractor.extractItem(u"\\b.txt"));
    EXPECT_EQ(readText(out + "/b.txt"), "beta");
  }
  EXPECT_TRUE(reports.empty());
  EXPECT_FALSE(extractor.reportedProblems());
}

// A folder swapped for a link to somewhere else between two items of the walk: the items after
// it never land outside the output folder.
TEST(ExtractorWalks, AFolderSwappedForALinkMidWalkLeadsNowhereOutside) {
  testing::TempDir dir;
  testing::ArchiveBuilder builder;
  builder.addFile(u"d\\x.txt", "x");
  builder.addFile(u"d\\y.txt", "y");
  builder.addFile(u"d\\inner\\z.txt", "z");
  const std::string archivePath = dir.file("swap.sva");
  ASSERT_TRUE(builder.writeTo(archivePath));
  Archive archive;
  ASSERT_TRUE(archive.checkPassword(archivePath, {}));
  ASSERT_TRUE(archive.open(archivePath));
  const std::string outside = dir.makeDir("outside");
  const std::string out = dir.file("out");

  for (std::u16string swapAfter : {u"\\d", u"\\d\\inner"}) {
    SCOPED_TRACE(toUtf8Lossy(swapAfter));
    fs::remove_all(out);
    Extractor extractor(archive, [](const std::string&) {});
    extractor.setAfterItem([&](std::u16string_view path) {
      if (path != swapAfter) return;
      // The folder just made moves aside (or goes, when empty), and a link takes its place.
      const std::string folder = out + "/" + (swapAfter == u"\\d" ? "d" : "d/inner");
      fs::rename(folder, out + "/moved");
      fs::create_directory_symlink(outside, folder);
    });
    extractor.extract(u"\\", out);
    EXPECT_TRUE(fs::is_empty(outside));
  }
}

// Extraction has no use for item detail records and does not fetch them.
TEST(ExtractorWalks, ItemDetailTablesAreNeverLoaded) {
  testing::TempDir dir;
  testing::ArchiveBuilder builder;
  builder.addFile(u"docs\\a.txt", "alpha");
  testing::DetailFileContents details;
  details.records.push_back({u"a.txt", testing::bytesOf("blob"), {}, {}, {}, {}, {}});
  builder.addDetailFile(u"docs", details);
  builder.addDetailFile(u"", details);
  const std::string archivePath = dir.file("details.sva");
  ASSERT_TRUE(builder.writeTo(archivePath));
  Archive archive;
  ASSERT_TRUE(archive.checkPassword(archivePath, {}));
  ASSERT_TRUE(archive.open(archivePath));
  Extractor extractor(archive, [](const std::string&) {});
  EXPECT_TRUE(extractor.extract(u"\\", dir.file("out")));
  EXPECT_EQ(readText(dir.file("out/docs/a.txt")), "alpha");
  EXPECT_FALSE(extractor.reportedProblems());
  EXPECT_EQ(archive.detailTableLoads(), 0u);
}

}  // namespace
}  // namespace sorvel
