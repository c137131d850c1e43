// libsorvel's public API, driven as a program that links the library would drive it.
#include "sorvel/sorvel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "platform/Utf16.h"
#include "support/ArchiveBuilder.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using api::ErrorCode;

constexpr std::string_view kPassword = "secret";

Bytes fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Two folders, a small file, a file of many blocks laid out out of order, a read-only empty
// file, and a file whose chain is shorter than its size.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ArchiveBuilder builder;
    builder.settings.password = testing::bytesOf(kPassword);
    builder.addFile(u"docs\\readme.txt", "read me first").modified = 1700000000;
    testing::Item& big = builder.addGeneratedFile(u"data\\big.bin", kBigSize, testing::seededContent(7));
    big.blocks = testing::BlockList{};
    for (std::uint32_t block = 40; block >= 10; --block) big.blocks->push_back(block);  // 31 blocks, backwards
    builder.addFile(u"docs\\empty.txt", "").attributes = 0x21;
    testing::Item& cut = builder.addFile(u"cut.bin", Bytes(kBlock + 100, 0x5C));
    cut.storedSize = 3 * kBlock;
    cut.blocks = testing::BlockList{50, 51};
    path_ = dir_.file("test.sva");
    ASSERT_TRUE(builder.writeTo(path_));
    bigContent_ = testing::generateContent(testing::seededContent(7), 0, kBigSize);
  }

  api::Archive open() {
    api::Result<api::Archive> opened = api::Archive::open(path_, api::Password::text(kPassword));
    EXPECT_TRUE(opened.ok()) << opened.status().message;
    return std::move(opened.value());
  }

  static constexpr std::size_t kBlock = 16384;
  static constexpr std::size_t kBigSize = 30 * kBlock + 1234;
  testing::TempDir dir_;
  std::string path_;
  Bytes bigContent_;
};

TEST_F(LibraryTest, OpenFailuresGiveTheToolsCodeAndMessage) {
  const std::string junk = dir_.writeFile("junk.sva", std::string(4096, 'x'));
  const std::string folder = dir_.makeDir("folder");
  struct Case {
    std::string path;
    api::Password password;
    ErrorCode code;
    std::string message;
  };
  Case cases[] = {
      {path_, api::Password::text("wrong"), ErrorCode::WrongPassword, "Error: incorrect password!"},
      {path_, api::Password(), ErrorCode::WrongPassword, "Error: incorrect password!"},
      {junk, api::Password::text(kPassword), ErrorCode::NotAnArchive, "Error: archive format error !"},
      {dir_.file("missing.sva"), api::Password(), ErrorCode::ArchiveMissing,
       "can not read archive: " + dir_.file("missing.sva") + ": No such file or directory"},
      {folder, api::Password(), ErrorCode::ArchiveMissing, "can not read archive: " + folder + ": not a regular file"},
      {path_, api::Password::file(dir_.file("nofile")), ErrorCode::NotFound,
       "can not read password file " + dir_.file("nofile") + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    const api::Result<api::Archive> opened = api::Archive::open(c.path, c.password);
    ASSERT_FALSE(opened.ok()) << c.message;
    EXPECT_EQ(opened.status().code, c.code) << c.message;
    EXPECT_EQ(opened.status().message, c.message);
  }
}

TEST_F(LibraryTest, UnsupportedArchivesAreRefusedBeforeThePassword) {
  struct Case {
    std::uint8_t auth;
    std::uint8_t cipher;
    ErrorCode code;
  };
  for (const Case& c : {Case{2, 2, ErrorCode::UnsupportedAuth}, Case{9, 1, ErrorCode::UnknownVersion}}) {
    testing::ArchiveBuilder builder;
    builder.settings.password = testing::bytesOf(kPassword);
    builder.settings.authType = c.auth;
    builder.settings.keyBlockCipher = c.cipher;
    builder.addFile(u"a.txt", "a");
    ASSERT_TRUE(builder.writeTo(dir_.file("other.sva")));
    bool asked = false;
    const api::Result<api::Archive> opened = api::Archive::open(dir_.file("other.sva"), api::Password::ask([&] {
                                                                  asked = true;
                                                                  return api::Password::text(kPassword);
                                                                }));
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.status().code, c.code);
    EXPECT_FALSE(asked);
  }
}

TEST_F(LibraryTest, PasswordsFromFileCallbackBytesAndDescriptor) {
  const std::string file = dir_.writeFile("pw.txt", "secret\nsecond line\n");
  EXPECT_TRUE(api::Archive::open(path_, api::Password::file(file)).ok());
  EXPECT_TRUE(api::Archive::open(path_, api::Password::bytes(kPassword.data(), kPassword.size())).ok());
  EXPECT_TRUE(api::Archive::open(path_, api::Password::ask([] { return api::Password::text(kPassword); })).ok());
  const int fd = ::open(path_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  api::Result<api::Archive> opened = api::Archive::openDescriptor(fd, api::Password::text(kPassword));
  EXPECT_EQ(::close(fd), 0);  // the library keeps its own duplicate
  ASSERT_TRUE(opened.ok()) << opened.status().message;
  EXPECT_NE(opened->find("docs/readme.txt"), nullptr);
}

TEST_F(LibraryTest, ItemsFactsAndLookup) {
  const api::Archive archive = open();
  std::vector<std::string> paths;
  for (const api::ItemInfo& item : archive.items()) paths.push_back(item.path);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"cut.bin", "data", "data/big.bin", "docs", "docs/empty.txt", "docs/readme.txt"}));
  const api::ArchiveFacts& facts = archive.facts();
  EXPECT_EQ(facts.fileCount, 4u);
  EXPECT_EQ(facts.folderCount, 2u);
  EXPECT_EQ(facts.keyBlockCipherName, "AES-CFB");
  EXPECT_EQ(facts.dataCipher, 1u);
  EXPECT_TRUE(facts.passwordProtected);
  EXPECT_EQ(facts.blockSize, kBlock);
  EXPECT_GE(facts.blockCount, 52u);

  const api::ItemInfo* readme = archive.find("DOCS\\ReadMe.TXT");
  ASSERT_NE(readme, nullptr);
  EXPECT_EQ(readme->path, "docs/readme.txt");
  EXPECT_EQ(readme->size, 13u);
  EXPECT_EQ(readme->modified, 1700000000);
  EXPECT_FALSE(readme->readOnly());
  EXPECT_TRUE(archive.find("docs/empty.txt")->readOnly());
  EXPECT_TRUE(archive.find("/docs/")->isFolder());
  EXPECT_EQ(archive.find("docs/none.txt"), nullptr);

  const api::ItemInfo* cut = archive.find("cut.bin");
  ASSERT_NE(cut, nullptr);
  EXPECT_TRUE(cut->damaged);
  EXPECT_EQ(cut->size, 3 * kBlock);
  EXPECT_EQ(cut->readableSize, 2 * kBlock);
}

TEST_F(LibraryTest, StreamReadsAndSeeksGiveTheExtractedBytes) {
  api::Archive archive = open();
  api::ExtractOptions options;
  options.items = {"data"};
  ASSERT_TRUE(archive.extract(dir_.file("out"), options));
  EXPECT_EQ(fileBytes(dir_.file("out/data/big.bin")), bigContent_);

  api::Result<api::Stream> stream = archive.openFile("data/big.bin");
  ASSERT_TRUE(stream.ok());
  EXPECT_EQ(stream->size(), kBigSize);
  std::mt19937_64 random(11);
  Bytes got(3 * kBlock);
  for (int i = 0; i < 200; ++i) {
    const std::uint64_t offset = random() % (kBigSize + 100);
    const std::size_t length = random() % got.size();
    ASSERT_TRUE(stream->seek(static_cast<std::int64_t>(offset)).ok());
    const api::Result<std::size_t> n = stream->read(got.data(), length);
    ASSERT_TRUE(n.ok());
    const std::size_t expected = offset >= kBigSize ? 0 : std::min<std::size_t>(length, kBigSize - offset);
    ASSERT_EQ(n.value(), expected) << offset;
    ASSERT_TRUE(
        std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(expected),
                   bigContent_.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(offset, kBigSize))));
    EXPECT_EQ(stream->tell(), offset + expected);
  }
  // Small reads one after another, then from the end.
  ASSERT_TRUE(stream->seek(0).ok());
  Bytes whole;
  for (std::uint8_t byte[7]; true;) {
    const api::Result<std::size_t> n = stream->read(byte, sizeof byte);
    ASSERT_TRUE(n.ok());
    if (n.value() == 0) break;
    whole.insert(whole.end(), byte, byte + n.value());
  }
  EXPECT_EQ(whole, bigContent_);
  EXPECT_EQ(stream->seek(-10, api::Whence::End).value(), kBigSize - 10);
  EXPECT_EQ(stream->seek(-1, api::Whence::Begin).status().code, ErrorCode::InvalidArgument);
}

TEST_F(LibraryTest, ADamagedFileReadsToWhereItsChainEndsThenFails) {
  api::Archive archive = open();
  api::Result<api::Stream> stream = archive.openFile("cut.bin");
  ASSERT_TRUE(stream.ok());
  Bytes got(4 * kBlock);
  const api::Result<std::size_t> first = stream->read(got.data(), got.size());
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first.value(), 2 * kBlock);
  EXPECT_EQ(got[kBlock + 99], 0x5C);
  const api::Result<std::size_t> second = stream->read(got.data(), got.size());
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.status().code, ErrorCode::DamagedItems);
  EXPECT_EQ(second.status().message, "Error: damaged item: cut.bin");

  EXPECT_EQ(archive.openFile("docs").status().code, ErrorCode::NotFound);
  EXPECT_EQ(archive.openFile("nothing").status().message, "no such item in archive: nothing");
}

TEST_F(LibraryTest, StreamsOfOneArchiveReadInParallel) {
  const api::Archive archive = open();
  std::atomic<int> mismatches{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      api::Result<api::Stream> stream = archive.openFile("data/big.bin");
      if (!stream.ok()) return void(++mismatches);
      std::mt19937_64 random(static_cast<std::uint64_t>(t));
      Bytes got(40000);
      for (int i = 0; i < 100; ++i) {
        const std::uint64_t offset = random() % kBigSize;
        const std::size_t length = std::min<std::size_t>(got.size(), kBigSize - offset);
        const api::Result<std::size_t> n = stream->readAt(offset, got.data(), length);
        if (!n.ok() || n.value() != length ||
            !std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(length),
                        bigContent_.begin() + static_cast<std::ptrdiff_t>(offset))) {
          ++mismatches;
        }
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(mismatches, 0);
}

TEST_F(LibraryTest, ExtractsChosenItemsAtTheirPaths) {
  api::Archive archive = open();
  api::ExtractOptions options;
  options.items = {"docs/readme.txt", "data"};
  std::vector<std::string> problems;
  options.problem = [&](std::string_view line) { problems.emplace_back(line); };
  const api::Status status = archive.extract(dir_.file("chosen"), options);
  EXPECT_TRUE(status.ok()) << status.message;
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(fileBytes(dir_.file("chosen/docs/readme.txt")), testing::bytesOf("read me first"));
  EXPECT_EQ(fileBytes(dir_.file("chosen/data/big.bin")), bigContent_);
  EXPECT_FALSE(fs::exists(dir_.file("chosen/docs/empty.txt")));
  EXPECT_FALSE(fs::exists(dir_.file("chosen/cut.bin")));

  options.items = {"no/such"};
  EXPECT_EQ(archive.extract(dir_.file("chosen"), options).code, ErrorCode::NotFound);

  // The whole archive: the damaged file is reported as the tool reports it.
  problems.clear();
  options.items.clear();
  const api::Status all = archive.extract(dir_.file("all"), options);
  EXPECT_EQ(all.code, ErrorCode::DamagedItems);
  EXPECT_EQ(all.message, "Error: archive extracted with errors!");
  EXPECT_EQ(problems, std::vector<std::string>{"Error: damaged item: \\cut.bin"});
  EXPECT_EQ(fs::file_size(dir_.file("all/cut.bin")), 3 * kBlock);
}

// The files below `folder`, "/" between names, in name order.
std::vector<std::string> filesBelow(const std::string& folder) {
  std::vector<std::string> files;
  if (!fs::exists(folder)) return files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST_F(LibraryTest, ExtractChoosesItemsAsTheToolChoosesItsOperands) {
  api::Archive archive = open();
  struct Case {
    std::vector<std::string> items;
    std::vector<std::string> patterns;
    std::vector<std::string> exclude;
    bool slash;
    ErrorCode code;
    std::string message;
    std::vector<std::string> files;
  };
  const std::vector<std::string> docs = {"docs/empty.txt", "docs/readme.txt"};
  const Case cases[] = {
      {{}, {"docs/*.txt"}, {}, false, ErrorCode::Success, "", docs},
      {{}, {"D?CS/[r]*"}, {}, false, ErrorCode::Success, "", {"docs/readme.txt"}},
      // Named twice, by item and by pattern: written once, no problem.
      {{"docs"}, {"docs/*", "*/readme.txt"}, {}, false, ErrorCode::Success, "", docs},
      {{}, {"*"}, {"docs", "cut.bin"}, false, ErrorCode::Success, "", {"data/big.bin"}},
      {{}, {"*/*.txt"}, {"empty.txt"}, false, ErrorCode::Success, "", {"docs/readme.txt"}},
      {{"docs"}, {}, {"/readme.txt"}, false, ErrorCode::Success, "", docs},
      {{"docs"}, {}, {"/docs/readme.txt"}, false, ErrorCode::Success, "", {"docs/empty.txt"}},
      {{}, {"*.txt"}, {}, true, ErrorCode::Success, "", docs},
      {{}, {"*.txt", "d*/b*"}, {}, false, ErrorCode::NotFound, "no such item in archive: *.txt", {}},
      {{"no/such", "docs"},
       {"x*"},
       {},
       false,
       ErrorCode::NotFound,
       "no such item in archive: no/such\nno such item in archive: x*",
       {}},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(run);
    api::ExtractOptions options;
    options.items = c.items;
    options.patterns = c.patterns;
    options.exclude = c.exclude;
    options.wildcardsMatchSlash = c.slash;
    const std::string out = dir_.file("out" + std::to_string(run++));
    const api::Status status = archive.extract(out, options);
    EXPECT_EQ(status.code, c.code) << status.message;
    EXPECT_EQ(status.message, c.message);
    EXPECT_EQ(filesBelow(out), c.files);
  }
}

TEST(LibraryExtract, ItemsAreTakenAsTheyAreNotAsPatterns) {
  testing::TempDir dir;
  testing::ArchiveBuilder builder;
  builder.addFile(u"[ab]", "brackets");
  builder.addFile(u"a", "a");
  builder.addFile(u"x*", "star");
  builder.addFile(u"xy", "xy");
  const std::string path = dir.file("literal.sva");
  ASSERT_TRUE(builder.writeTo(path));
  api::Result<api::Archive> archive = api::Archive::open(path, api::Password());
  ASSERT_TRUE(archive.ok()) << archive.status().message;
  api::ExtractOptions options;
  options.items = {"[ab]", "x*"};
  ASSERT_TRUE(archive->extract(dir.file("items"), options));
  EXPECT_EQ(filesBelow(dir.file("items")), (std::vector<std::string>{"[ab]", "x*"}));
  options.items.clear();
  options.patterns = {"[ab]", "x*"};
  ASSERT_TRUE(archive->extract(dir.file("patterns"), options));
  EXPECT_EQ(filesBelow(dir.file("patterns")), (std::vector<std::string>{"[ab]", "a", "x*", "xy"}));
}

TEST_F(LibraryTest, AProgressCallbackThatStopsLeavesNoPartFile) {
  api::Archive archive = open();
  for (const std::uint64_t stopAfter : {std::uint64_t{0}, std::uint64_t{100} << 10}) {
    const std::string out = dir_.file("stopped" + std::to_string(stopAfter));
    api::ExtractOptions options;
    options.items = {"data/big.bin"};
    int calls = 0;
    options.progress = [&](const api::Progress& progress) {
      ++calls;
      EXPECT_LE(progress.bytesDone, progress.bytesTotal);
      return progress.bytesDone < stopAfter;
    };
    const api::Status status = archive.extract(out, options);
    EXPECT_TRUE(status.cancelled);
    EXPECT_EQ(status.code, ErrorCode::DamagedItems);
    EXPECT_GE(calls, 1);
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      if (!entry.is_directory()) left.push_back(entry.path().string());
    }
    EXPECT_TRUE(left.empty()) << left.front();
  }
}

// Once stopped, a walk begins no further item, on one writer or two: what is left is neither
// written nor reported (each writer may fail the file it had begun).
TEST_F(LibraryTest, AStoppedWalkGoesNoFurther) {
  for (const int count : {20, 400}) {
    testing::ArchiveBuilder builder;
    for (int i = 0; i < count; ++i) builder.addFile(u"many\\f" + toUtf16(std::to_string(i)), Bytes(5000, 1));
    const std::string out = dir_.file("many" + std::to_string(count));
    ASSERT_TRUE(builder.writeTo(out + ".sva"));
    api::Result<api::Archive> archive = api::Archive::open(out + ".sva", api::Password());
    ASSERT_TRUE(archive.ok());
    api::ExtractOptions options;
    std::vector<std::string> problems;
    options.problem = [&](std::string_view line) { problems.emplace_back(line); };
    options.progress = [](const api::Progress& progress) {
      return progress.itemsDone < 3 && progress.bytesDone < 100000;
    };
    const api::Status status = archive->extract(out, options);
    EXPECT_TRUE(status.cancelled);
    EXPECT_LE(problems.size(), 2u) << count << ": " << problems.back();
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out)) files += entry.is_regular_file();
    EXPECT_LT(files, static_cast<std::size_t>(count) / 2);
  }
}

TEST_F(LibraryTest, TestReportsTheDamagedItems) {
  api::Archive archive = open();
  const api::Result<api::TestReport> report = archive.test();
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(report->files, 4u);
  EXPECT_EQ(report->folders, 2u);
  EXPECT_EQ(report->firstDamaged, "cut.bin");
  EXPECT_EQ(report->problems, std::vector<std::string>{"Error: damaged item: \\cut.bin"});
  EXPECT_EQ(archive.test([](const api::Progress&) { return false; }).status().code, ErrorCode::DamagedItems);
}

}  // namespace
}  // namespace sorvel
