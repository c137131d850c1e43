#include "platform/FileWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
  ~UmaskGuard() { ::umask(old_); }
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;

 private:
  mode_t old_;
};

// Lowers the file size limit and ignores SIGXFSZ, so writes past the limit fail with EFBIG the
// way they fail on a full disk; both are restored afterwards.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool active() const { return active_; }

 private:
  rlimit old_{};
  sighandler_t oldHandler_ = SIG_DFL;
  bool active_ = false;
};

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, std::string_view content, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

bool writeText(FileWriter& writer, std::string_view text) {
  return writer.write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

class FileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(root.path().empty()); }

  // A fresh, empty folder per table case.
  std::string caseFolder(const std::string& name) {
    const std::string path = root.path() + "/" + name;
    EXPECT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
    return path;
  }

  testing::TempDir root;
  UmaskGuard umaskGuard{022};
};

TEST_F(FileWriterTest, CommitLandsContentTimesAndPermissions) {
  struct Case {
    const char* name;
    std::string content;
    std::int64_t accessed;
    std::int64_t modified;
    bool readOnly;
    mode_t umask;
    mode_t expectedMode;
  };
  const std::vector<Case> cases = {
      {"plain", "hello, world", 1000000000, 1234567890, false, 022, 0644},
      {"small_times", "abc", 5, 6, false, 022, 0644},
      {"empty_read_only", "", 86400, 0, true, 022, 0444},
      {"past_2106_and_before_1970", "x", (std::int64_t{1} << 32) + 7, -315619200, true, 077, 0400},
      {"at_2_pow_31_umask_0", "abc", std::int64_t{1} << 31, (std::int64_t{1} << 31) - 1, false, 0, 0666},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    const std::string target = folder + "/out";
    {
      UmaskGuard mask(c.umask);
      auto writer = FileWriter::create(target);
      ASSERT_TRUE(writer) << std::strerror(errno);
      ASSERT_TRUE(writeText(*writer, c.content));
      EXPECT_EQ(writer->size(), c.content.size());
      ASSERT_TRUE(writer->commit(c.accessed, c.modified, {.readOnly = c.readOnly})) << std::strerror(writer->error());
      EXPECT_FALSE(writer->isOpen());
    }
    // Times first: reading the content may move the access time.
    struct stat st {};
    ASSERT_EQ(::lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, c.expectedMode);
    EXPECT_EQ(st.st_atim.tv_sec, c.accessed);
    EXPECT_EQ(st.st_mtim.tv_sec, c.modified);
    EXPECT_EQ(st.st_atim.tv_nsec, 0);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    EXPECT_EQ(readFile(target), c.content);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
  }
}

TEST_F(FileWriterTest, PiecesAndShortWritesKeepTheirOrder) {
  const std::string target = root.path() + "/out";
  std::vector<std::size_t> requested;
  // At most 3 bytes per call, the rest must be asked for again.
  auto shortWrites = [&](int fd, const void* data, std::size_t count) {
    requested.push_back(count);
    return ::write(fd, data, std::min<std::size_t>(count, 3));
  };
  auto writer = FileWriter::create(target, shortWrites);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writeText(*writer, "abcdefgh"));
  ASSERT_TRUE(writeText(*writer, ""));
  ASSERT_TRUE(writeText(*writer, "ij"));
  ASSERT_TRUE(writer->commit(0, 0, {}));
  EXPECT_EQ(requested, (std::vector<std::size_t>{8, 5, 2, 2}));
  EXPECT_EQ(readFile(target), "abcdefghij");
}

TEST_F(FileWriterTest, ReplacesWhatMayBeReplaced) {
  struct Case {
    const char* name;
    std::function<void(const std::string& folder)> setUp;
  };
  const std::vector<Case> cases = {
      {"longer_writable_file", [](const std::string& f) { writeFile(f + "/out", "an older and longer content"); }},
      {"file_only_its_owner_may_write", [](const std::string& f) { writeFile(f + "/out", "old", 0600); }},
      // The link itself is replaced; the file it points to is never written through it.
      {"symbolic_link",
       [](const std::string& f) {
         writeFile(f + "/elsewhere", "keep me");
         ASSERT_EQ(::symlink("elsewhere", (f + "/out").c_str()), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    c.setUp(folder);
    const auto before = entriesOf(folder);
    {
      auto writer = FileWriter::create(folder + "/out");
      ASSERT_TRUE(writer) << std::strerror(errno);
      ASSERT_TRUE(writeText(*writer, "new"));
      ASSERT_TRUE(writer->commit(0, 0, {})) << std::strerror(writer->error());
    }
    struct stat st {};
    ASSERT_EQ(::lstat((folder + "/out").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(readFile(folder + "/out"), "new");
    EXPECT_EQ(entriesOf(folder), before);
    if (fs::exists(folder + "/elsewhere")) {
      EXPECT_EQ(readFile(folder + "/elsewhere"), "keep me");
    }
  }
}

TEST_F(FileWriterTest, RefusedTargetsChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(const std::string& folder)> setUp;
    std::string target;  // below the case folder
    int expectedErrno;
  };
  const std::vector<Case> cases = {
      {"read_only_file", [](const std::string& f) { writeFile(f + "/out", "old", 0444); }, "out", EACCES},
      // Root may write anything, so the mode bits decide, not access().
      {"owner_may_not_write_though_others_may", [](const std::string& f) { writeFile(f + "/out", "old", 0466); }, "out",
       EACCES},
      {"directory", [](const std::string& f) { ASSERT_EQ(::mkdir((f + "/out").c_str(), 0755), 0); }, "out", EISDIR},
      {"name_too_long", [](const std::string&) {}, std::string(256, 'n'), ENAMETOOLONG},
      {"missing_parent", [](const std::string&) {}, "missing/out", ENOENT},
      {"no_name_after_slash", [](const std::string& f) { ASSERT_EQ(::mkdir((f + "/sub").c_str(), 0755), 0); }, "sub/",
       EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    c.setUp(folder);
    const auto before = entriesOf(folder);
    errno = 0;
    auto writer = FileWriter::create(folder + "/" + c.target);
    EXPECT_FALSE(writer);
    EXPECT_EQ(errno, c.expectedErrno) << std::strerror(errno);
    EXPECT_EQ(entriesOf(folder), before);
    if (fs::is_regular_file(folder + "/out")) {
      EXPECT_EQ(readFile(folder + "/out"), "old");
    }
  }
  EXPECT_FALSE(FileWriter::create(""));
}

TEST_F(FileWriterTest, TargetThatTurnsUnreplaceableBeforeCommitIsKept) {
  struct Case {
    const char* name;
    std::function<void(const std::string& target)> change;
    int expectedErrno;
  };
  const std::vector<Case> cases = {
      {"became_directory", [](const std::string& t) { ASSERT_EQ(::mkdir(t.c_str(), 0755), 0); }, EISDIR},
      {"became_read_only", [](const std::string& t) { writeFile(t, "old", 0444); }, EACCES},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    const std::string target = folder + "/out";
    auto writer = FileWriter::create(target);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writeText(*writer, "new"));
    c.change(target);
    EXPECT_FALSE(writer->commit(0, 0, {}));
    EXPECT_EQ(writer->error(), c.expectedErrno);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
    if (fs::is_regular_file(target)) {
      EXPECT_EQ(readFile(target), "old");
    }
  }
}

TEST_F(FileWriterTest, TargetThatAppearsReplaceableBeforeCommitIsReplaced) {
  const std::vector<std::pair<const char*, std::function<void(const std::string& target)>>> cases = {
      {"writable_file", [](const std::string& t) { writeFile(t, "old"); }},
      {"symbolic_link", [](const std::string& t) { ASSERT_EQ(::symlink("elsewhere", t.c_str()), 0); }},
  };
  for (const auto& [name, appear] : cases) {
    SCOPED_TRACE(name);
    const std::string folder = caseFolder(name);
    const std::string target = folder + "/out";
    auto writer = FileWriter::create(target);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writeText(*writer, "new"));
    appear(target);
    ASSERT_TRUE(writer->commit(0, 0, {})) << std::strerror(writer->error());
    struct stat st {};
    ASSERT_EQ(::lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
  }
}

// Inside an open folder the target is judged only at commit, by the policy on existing files:
// what may be replaced is, what may not stays as it was, and either way no temporary file is left.
TEST_F(FileWriterTest, InAnOpenFolderTheTargetIsJudgedAtCommit) {
  using enum ExistingFiles;
  struct Case {
    const char* name;
    ExistingFiles policy;
    std::function<void(const std::string& target)> setUp;
    int expectedErrno;  // 0: committed
  };
  auto nothing = [](const std::string&) {};
  auto writable = [](const std::string& t) { writeFile(t, "old"); };
  auto readOnly = [](const std::string& t) { writeFile(t, "old", 0444); };
  auto link = [](const std::string& t) { ASSERT_EQ(::symlink("elsewhere", t.c_str()), 0); };
  auto directory = [](const std::string& t) { ASSERT_EQ(::mkdir(t.c_str(), 0755), 0); };
  const std::vector<Case> cases = {
      {"missing", ReplaceWritable, nothing, 0},          {"writable_file", ReplaceWritable, writable, 0},
      {"symbolic_link", ReplaceWritable, link, 0},       {"read_only_file", ReplaceWritable, readOnly, EACCES},
      {"directory", ReplaceWritable, directory, EISDIR}, {"all_read_only_file", ReplaceAll, readOnly, 0},
      {"all_directory", ReplaceAll, directory, EISDIR},  {"keep_missing", Keep, nothing, 0},
      {"keep_writable_file", Keep, writable, EEXIST},    {"keep_read_only_file", Keep, readOnly, EEXIST},
      {"keep_symbolic_link", Keep, link, EEXIST},        {"keep_directory", Keep, directory, EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    c.setUp(folder + "/out");
    DirectoryHandle handle;
    ASSERT_TRUE(handle.open(folder));
    auto writer = FileWriter::createIn(handle, "out");
    ASSERT_TRUE(writer) << std::strerror(errno);
    writer->setExistingFiles(c.policy);
    ASSERT_TRUE(writeText(*writer, "new"));
    EXPECT_EQ(writer->commit(1000000000, 1000000000, {}), c.expectedErrno == 0);
    EXPECT_EQ(writer->error(), c.expectedErrno);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
    struct stat st {};
    ASSERT_EQ(::lstat((folder + "/out").c_str(), &st), 0);
    if (c.expectedErrno == 0) {
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(readFile(folder + "/out"), "new");
      EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    } else if (S_ISREG(st.st_mode)) {
      EXPECT_EQ(readFile(folder + "/out"), "old");
    } else if (S_ISLNK(st.st_mode)) {
      EXPECT_EQ(fs::read_symlink(folder + "/out"), "elsewhere");
    }
  }
}

// Kept existing files: whatever appears at the name after the writer started, up to the moment
// of its commit, stays, whether the content went to an unnamed file or to a named temporary one.
TEST_F(FileWriterTest, KeepingLeavesWhatAppearsBeforeCommit) {
  struct Maker {
    const char* name;
    std::function<std::optional<FileWriter>(const DirectoryHandle& folder, const std::string& path)> make;
  };
  const Maker makers[] = {
      {"in_folder",
       [](const DirectoryHandle& folder, const std::string&) { return FileWriter::createIn(folder, "out"); }},
      {"by_path", [](const DirectoryHandle&, const std::string& path) { return FileWriter::create(path + "/out"); }},
  };
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> appearing = {
      {"writable_file", [](const std::string& t) { writeFile(t, "old"); }},
      {"read_only_file", [](const std::string& t) { writeFile(t, "old", 0444); }},
  };
  for (const Maker& maker : makers) {
    for (const auto& [what, appear] : appearing) {
      const std::string name = std::string(maker.name) + "_" + what;
      SCOPED_TRACE(name);
      const std::string folder = caseFolder(name);
      DirectoryHandle handle;
      ASSERT_TRUE(handle.open(folder));
      auto writer = maker.make(handle, folder);
      ASSERT_TRUE(writer) << std::strerror(errno);
      writer->setExistingFiles(ExistingFiles::Keep);
      ASSERT_TRUE(writeText(*writer, "new"));
      appear(folder + "/out");
      EXPECT_FALSE(writer->commit(0, 0, {}));
      EXPECT_EQ(writer->error(), EEXIST);
      EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
      EXPECT_EQ(readFile(folder + "/out"), "old");
    }
  }
}

TEST_F(FileWriterTest, InAnOpenFolderOnlyOneNameIsTaken) {
  const std::string folder = caseFolder("names");
  DirectoryHandle handle;
  ASSERT_TRUE(handle.open(folder));
  for (const char* name : {"", "sub/out"}) {
    errno = 0;
    EXPECT_FALSE(FileWriter::createIn(handle, name)) << name;
    EXPECT_EQ(errno, EINVAL) << name;
  }
  EXPECT_FALSE(FileWriter::createIn(DirectoryHandle(), "out"));
  // A name too long for the file system fails before any content is written.
  errno = 0;
  EXPECT_FALSE(FileWriter::createIn(handle, std::string(300, 'x')));
  EXPECT_EQ(errno, ENAMETOOLONG);
  {
    auto abandoned = FileWriter::createIn(handle, "out");
    ASSERT_TRUE(abandoned);
    ASSERT_TRUE(writeText(*abandoned, "never"));
  }
  EXPECT_TRUE(entriesOf(folder).empty());
}

TEST_F(FileWriterTest, NoWriteCallTakesMoreThan256MiB) {
  constexpr std::size_t kCap = FileWriter::kMaxWriteChunk;
  static_assert(kCap == 0x10000000);
  struct Case {
    std::size_t length;
    std::vector<std::size_t> expectedCalls;
  };
  const std::vector<Case> cases = {
      {0, {}}, {1, {1}}, {kCap, {kCap}}, {kCap + 1, {kCap, 1}}, {2 * kCap + 5, {kCap, kCap, 5}},
  };
  // Untouched anonymous pages cost no memory; the faked write never reads them.
  const std::size_t mappedLength = 2 * kCap + 5;
  void* mapped = ::mmap(nullptr, mappedLength, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  const auto* buffer = static_cast<const std::uint8_t*>(mapped);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<std::size_t> calls;
    auto countingWrite = [&](int, const void*, std::size_t count) {
      calls.push_back(count);
      return static_cast<ssize_t>(count);
    };
    auto writer = FileWriter::create(root.path() + "/out", countingWrite);
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->write(buffer, c.length));
    EXPECT_EQ(calls, c.expectedCalls);
    EXPECT_EQ(writer->size(), c.length);
  }
  ::munmap(mapped, mappedLength);
  EXPECT_TRUE(entriesOf(root.path()).empty());
}

TEST_F(FileWriterTest, FailingWriteCallsEndTheFileAndKeepTheOldOne) {
  struct Case {
    const char* name;
    std::function<ssize_t(int fd, const void* data, std::size_t count, int call)> behaviour;
    bool succeeds;
    int expectedErrno;
  };
  const std::vector<Case> cases = {
      {"error", [](int, const void*, std::size_t, int) { return errno = ENOSPC, ssize_t{-1}; }, false, ENOSPC},
      {"no_progress", [](int, const void*, std::size_t, int) { return ssize_t{0}; }, false, EIO},
      {"interrupted_forever", [](int, const void*, std::size_t, int) { return errno = EINTR, ssize_t{-1}; }, false,
       EINTR},
      {"progress_then_error",
       [](int fd, const void* data, std::size_t, int call) {
         return call == 0 ? ::write(fd, data, 2) : (errno = EIO, ssize_t{-1});
       },
       false, EIO},
      {"interrupted_once",
       [](int fd, const void* data, std::size_t count, int call) {
         return call == 0 ? (errno = EINTR, ssize_t{-1}) : ::write(fd, data, count);
       },
       true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    const std::string target = folder + "/out";
    writeFile(target, "old");
    int calls = 0;
    auto observed = [&](int fd, const void* data, std::size_t count) {
      if (calls >= 1000) return errno = EIO, ssize_t{-1};  // stops a runaway retry loop
      return c.behaviour(fd, data, count, calls++);
    };
    auto writer = FileWriter::create(target, observed);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writeText(*writer, "new content"), c.succeeds);
    EXPECT_EQ(writer->commit(0, 0, {}), c.succeeds);
    EXPECT_EQ(writer->error(), c.expectedErrno);
    // A write call that fails for good must not be retried without bound.
    EXPECT_LT(calls, 1000);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
    EXPECT_EQ(readFile(target), c.succeeds ? "new content" : "old");
  }
}

TEST_F(FileWriterTest, FullDiskLeavesNoPartOfTheNewFile) {
  struct Case {
    const char* name;
    std::function<bool(FileWriter&)> grow;
  };
  const std::vector<Case> cases = {
      {"write", [](FileWriter& w) { return writeText(w, std::string(65536, 'z')); }},
      {"zero_tail", [](FileWriter& w) { return writeText(w, "abc") && w.extendTo(1 << 20); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    const std::string target = folder + "/out";
    writeFile(target, "old");
    {
      auto writer = FileWriter::create(target);
      ASSERT_TRUE(writer);
      {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.active());
        EXPECT_FALSE(c.grow(*writer));
      }
      EXPECT_EQ(writer->error(), EFBIG);
      EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
      EXPECT_FALSE(writer->commit(0, 0, {}));
    }
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out"});
    EXPECT_EQ(readFile(target), "old");
  }
}

TEST_F(FileWriterTest, AbandonedFileLeavesNothing) {
  struct Case {
    const char* name;
    bool oldFile;
    bool explicitAbandon;
  };
  const std::vector<Case> cases = {
      {"destroyed", false, false},
      {"destroyed_over_old_file", true, false},
      {"abandoned_over_old_file", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = caseFolder(c.name);
    const std::string target = folder + "/out";
    if (c.oldFile) writeFile(target, "old");
    const auto before = entriesOf(folder);
    {
      auto writer = FileWriter::create(target);
      ASSERT_TRUE(writer);
      ASSERT_TRUE(writeText(*writer, "new"));
      ASSERT_TRUE(writer->extendTo(100));
      EXPECT_TRUE(fs::exists(writer->temporaryPath()));
      if (c.explicitAbandon) {
        writer->abandon();
        EXPECT_EQ(entriesOf(folder), before);
        EXPECT_FALSE(writer->commit(0, 0, {}));
      }
    }
    EXPECT_EQ(entriesOf(folder), before);
    if (c.oldFile) {
      EXPECT_EQ(readFile(target), "old");
    }
  }
}

TEST_F(FileWriterTest, MovedWriterKeepsItsFile) {
  const std::string target = root.path() + "/out";
  std::optional<FileWriter> moved;
  {
    auto writer = FileWriter::create(target);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writeText(*writer, "ab"));
    moved.emplace(std::move(*writer));
  }  // the moved-from writer must not remove the file
  ASSERT_TRUE(writeText(*moved, "cd"));
  ASSERT_TRUE(moved->commit(0, 0, {}));
  EXPECT_EQ(readFile(target), "abcd");
}

TEST_F(FileWriterTest, ZeroTailExtendsWithoutWriting) {
  const std::string target = root.path() + "/out";
  constexpr std::uint64_t kSize = 1 << 20;
  {
    auto writer = FileWriter::create(target);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writeText(*writer, "abc"));
    ASSERT_TRUE(writer->extendTo(kSize));
    ASSERT_TRUE(writer->extendTo(kSize));  // already that long
    EXPECT_EQ(writer->size(), kSize);
    ASSERT_TRUE(writer->commit(0, 0, {}));
  }
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), kSize);
  // A tail of written zeros would occupy the whole megabyte on disk.
  EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, kSize);
  const auto content = readFile(target);
  ASSERT_TRUE(content);
  EXPECT_EQ(content->substr(0, 3), "abc");
  EXPECT_EQ(std::count(content->begin(), content->end(), '\0'), static_cast<std::ptrdiff_t>(kSize - 3));
}

TEST_F(FileWriterTest, WritesAfterTheZeroTailFollowIt) {
  const std::string target = root.path() + "/out";
  auto writer = FileWriter::create(target);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writeText(*writer, "abc"));
  ASSERT_TRUE(writer->extendTo(6));
  ASSERT_TRUE(writeText(*writer, "xyz"));
  ASSERT_TRUE(writer->commit(0, 0, {}));
  EXPECT_EQ(readFile(target), std::string("abc\0\0\0xyz", 9));
}

TEST_F(FileWriterTest, ShrinkingIsRefused) {
  const std::string target = root.path() + "/out";
  auto writer = FileWriter::create(target);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writeText(*writer, "abcdef"));
  EXPECT_FALSE(writer->extendTo(3));
  EXPECT_EQ(writer->error(), EINVAL);
  EXPECT_TRUE(entriesOf(root.path()).empty());
}

}  // namespace
}  // namespace sorvel
