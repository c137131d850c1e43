// sorvel export: the tree as a pax tar stream, checked with tar itself: `tar -t` lists what
// `sorvel list` lists, and `tar -x` gives what `sorvel extract` gives. The export never harms
// its input or an existing output: an output that is the archive is refused, a named file is
// replaced only by a complete tar, and damaged files' zero tails take no room in the tar.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/FileTree.h"
#include "support/HostileArchives.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::runTool;

testing::ProcessResult runTar(const std::vector<std::string>& args) {
  testing::ProcessRequest request;
  request.program = "/usr/bin/tar";
  request.args = args;
  return testing::runProcess(request);
}

// What a tree holds: per entry its path, type, permission bits, time and content.
std::vector<std::string> describeTree(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    EXPECT_EQ(::lstat(entry.path().c_str(), &st), 0);
    const bool folder = S_ISDIR(st.st_mode);
    std::string line =
        fs::relative(entry.path(), root).string() + (folder ? "/ " : " ") + std::to_string(st.st_mode & 0777);
    if (!folder)
      line += " " + std::to_string(st.st_mtim.tv_sec) + " " + std::to_string(st.st_size) + " " +
              std::to_string(std::hash<std::string>{}(readText(entry.path())));
    entries.push_back(line);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// The names in a folder, sorted.
std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The tool run by the shell in `folder`, which sees the tool as $0.
testing::ProcessResult runToolInShell(const std::string& script, const std::string& folder) {
  testing::ProcessRequest request;
  request.program = "/bin/bash";
  request.args = {"-c", script, SORVEL_TOOL_EXE};
  request.workingDirectory = folder;
  request.environment = {std::string("SORVEL_PASSWORD=") + testing::kToolPassword};
  return testing::runProcess(request);
}

// The tool started with `args` and the sample's password, without waiting for it; no standard
// streams, and SIGINT and SIGTERM with their default actions even where the test ignores them.
pid_t startTool(std::vector<std::string> args) {
  args.insert(args.begin(), SORVEL_TOOL_EXE);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string password = std::string("SORVEL_PASSWORD=") + testing::kToolPassword;
  char* envp[] = {password.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

class ToolExport : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  std::string archive_ = dir_.file("a.sva");
};

TEST_F(ToolExport, TarListsWhatListLists) {
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive_));
  const testing::ProcessResult exported = runTool({"export", archive_, "-o", "-"});
  ASSERT_EQ(exported.exitCode, 0) << exported.stderrText;
  EXPECT_EQ(exported.stderrText, "");
  const std::string tarFile = dir_.writeFile("a.tar", exported.stdoutText);
  const testing::ProcessResult listed = runTar({"-tf", tarFile});
  ASSERT_EQ(listed.exitCode, 0) << listed.stderrText;

  const testing::ProcessResult ours = runTool({"list", "-q", archive_});
  std::vector<std::string> paths;
  for (const std::string& line : ours.stdoutLines()) paths.push_back(line.substr(36));  // the columns before
  EXPECT_EQ(listed.stdoutLines(), paths);
  ASSERT_EQ(paths.size(), 8u);
}

// Items and patterns export a part of the tree; without -o the tar goes to standard output,
// never to a file named like an operand.
TEST_F(ToolExport, OperandsChooseWhatIsExported) {
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive_));
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after the archive
    std::vector<std::string> listed;
  };
  const Case cases[] = {
      {"a folder, to a file",
       {"docs", "-o", "docs.tar"},
       {"docs/", "docs/notes/", "docs/notes/a.txt", "docs/readme.txt", "docs/ro.txt"}},
      {"patterns and an exclusion, to standard output",
       {"*.txt", "d*/n*", "--exclude", "a.txt"},
       {"docs/notes/", "top.txt"}},
      {"to standard output by name", {"-o", "-", "top.txt"}, {"top.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"export", "a.sva"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const testing::ProcessResult exported = runTool(args, {"SORVEL_PASSWORD=tool-pass"}, {}, dir_.path());
    ASSERT_EQ(exported.exitCode, 0) << exported.stderrText;
    const bool toFile = std::find(c.args.begin(), c.args.end(), "docs.tar") != c.args.end();
    const std::string tarFile = toFile ? dir_.file("docs.tar") : dir_.writeFile("out.tar", exported.stdoutText);
    EXPECT_EQ(runTar({"-tf", tarFile}).stdoutLines(), c.listed);
    EXPECT_EQ(entriesOf(dir_.path()), (std::vector<std::string>{"a.sva", toFile ? "docs.tar" : "out.tar"}));
    fs::remove(tarFile);
  }
}

TEST_F(ToolExport, TarExtractsWhatExtractWrites) {
  ASSERT_TRUE(testing::damagedArchive().writeTo(archive_));
  const std::string tarFile = dir_.file("a.tar");
  const testing::ProcessResult exported = runTool({"export", "-o", tarFile, archive_});
  EXPECT_EQ(exported.exitCode, 11);
  EXPECT_EQ(exported.stderrLines(), std::vector<std::string>{"Error: damaged item: bad.bin"});
  const std::string fromTar = dir_.makeDir("from-tar");
  const testing::ProcessResult unpacked = runTar({"-xf", tarFile, "-C", fromTar});
  ASSERT_EQ(unpacked.exitCode, 0) << unpacked.stderrText;

  const std::string extracted = dir_.file("extracted");
  EXPECT_EQ(runTool({"extract", "-C", extracted, archive_}).exitCode, 11);
  const std::vector<std::string> expected = describeTree(extracted);
  EXPECT_EQ(describeTree(fromTar), expected);
  // Modes as a tar of ordinary files has them: read-only items lose their write bits.
  EXPECT_NE(std::find(expected.begin(), expected.end(), "docs/ 493"), expected.end());
  EXPECT_EQ(expected.size(), 9u);
  struct stat st {};
  ASSERT_EQ(::stat((fs::path(fromTar) / "docs/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000300);
}

TEST_F(ToolExport, NamesOutsideAsciiAndOutputChoices) {
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.addFile(u"caf\u00e9\\\u00fcber \u4e2d.txt", "utf");
  ASSERT_TRUE(builder.writeTo(archive_));
  const std::string tarFile = dir_.file("u.tar");
  ASSERT_EQ(runTool({"export", archive_, "-o", tarFile}).exitCode, 0);
  testing::ProcessRequest request;
  request.program = "/usr/bin/tar";
  request.args = {"-tf", tarFile};
  request.environment = {"LC_ALL=C.UTF-8"};
  EXPECT_EQ(testing::runProcess(request).stdoutLines(), (std::vector<std::string>{"caf\xC3\xA9/",
                                                                                  "caf\xC3\xA9/\xC3\xBC"
                                                                                  "ber \xE4\xB8\xAD.txt"}));

  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"export", archive_, "-o", tarFile, "other.tar"}, "sorvel: no such item in archive: other.tar\n"},
      {{"export", archive_, "-o", dir_.file("no/such/folder.tar")},
       "sorvel: can not write " + dir_.file("no/such/folder.tar") + ": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const testing::ProcessResult result = runTool(c.args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.stderrText, c.error);
  }
}

// Written over while it is read, the archive would be lost: an output that is the archive itself,
// by any name or as standard output, is refused before anything is written.
TEST_F(ToolExport, AnOutputThatIsTheArchiveIsRefused) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // links, shell limits and signals
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive_));
  const std::string original = readText(archive_);
  ASSERT_EQ(::symlink("a.sva", dir_.file("link.sva").c_str()), 0);
  ASSERT_EQ(::link(archive_.c_str(), dir_.file("hard.sva").c_str()), 0);
  const std::vector<std::string> entries = entriesOf(dir_.path());
  struct Case {
    std::string script;
    std::string shownAs;
  };
  const Case cases[] = {
      {R"("$0" export a.sva -o a.sva)", "a.sva"},
      {R"("$0" export a.sva -o "$PWD/./a.sva")", dir_.file("./a.sva")},
      {R"("$0" export a.sva -o link.sva)", "link.sva"},
      {R"("$0" export a.sva -o hard.sva)", "hard.sva"},
      {R"("$0" export a.sva -o - 1<>a.sva)", "standard output"},
      {R"("$0" export link.sva >>a.sva)", "standard output"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const testing::ProcessResult result = runToolInShell(c.script, dir_.path());
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.stderrLines(),
              std::vector<std::string>{"sorvel: " + c.shownAs + ": output is the archive itself; not written"});
    EXPECT_TRUE(readText(archive_) == original) << "the archive changed";
    EXPECT_EQ(entriesOf(dir_.path()), entries);
  }
}

// A named file is written to a temporary file beside it and takes its place only when the tar is
// complete: an export that fails halfway leaves the file as it was, and nothing beside it.
TEST_F(ToolExport, AFailedExportLeavesTheExistingFileAsItWas) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // links, shell limits and signals
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive_));
  const std::string tarFile = dir_.writeFile("out.tar", "old tar");
  // Writes past 32 KiB (bash counts KiB) fail with EFBIG, as on a full disk; big.bin alone is
  // 100,000 bytes.
  const testing::ProcessResult result =
      runToolInShell(R"(ulimit -f 32; trap '' XFSZ; exec "$0" export a.sva -o out.tar)", dir_.path());
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_TRUE(result.stderrText.starts_with("sorvel: can not write out.tar: ")) << result.stderrText;
  EXPECT_TRUE(readText(tarFile) == "old tar") << "out.tar was changed";
  EXPECT_EQ(entriesOf(dir_.path()), (std::vector<std::string>{"a.sva", "out.tar"}));
}

// SIGINT or SIGTERM in the middle of an export removes the temporary file and ends the run by
// that signal; the existing file stays as it was.
TEST_F(ToolExport, AnInterruptedExportLeavesTheExistingFileAsItWas) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // links, shell limits and signals
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.addGeneratedFile(u"huge.bin", std::uint64_t{64} << 20, testing::seededContent(3));
  ASSERT_TRUE(builder.writeTo(archive_));
  const std::string tarFile = dir_.writeFile("out.tar", "old tar");

  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const pid_t pid = startTool({"export", "--quiet", archive_, "-o", tarFile});
    ASSERT_GT(pid, 0);

    // Signalled once its temporary file holds part of the tar, long before the tar is complete.
    bool writing = false;
    int status = 0;
    while (!writing && ::waitpid(pid, &status, WNOHANG) == 0) {
      for (const auto& entry : fs::directory_iterator(dir_.path())) {
        std::error_code gone;
        const std::string name = entry.path().filename().string();
        writing = writing || (name != "a.sva" && name != "out.tar" && fs::file_size(entry.path(), gone) > 0 && !gone);
      }
      if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (writing) {
      ::kill(pid, signal);
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    }
    EXPECT_TRUE(writing) << "no temporary file seen while the export ran";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_TRUE(readText(tarFile) == "old tar") << "out.tar was changed";
    EXPECT_EQ(entriesOf(dir_.path()), (std::vector<std::string>{"a.sva", "out.tar"}));
  }
}

// Archives whose files claim far more than they store: a damaged file's zero tail is held in the
// tar as a hole, so the tar stays within what the archive stores plus its headers (2 KiB per
// item, the end of the tar counted as one).
TEST_F(ToolExport, HostileArchivesGiveATarOfWhatTheyStore) {
  for (testing::HostileShape& shape : testing::hostileShapes(65536)) {
    SCOPED_TRACE(shape.name);
    ASSERT_TRUE(shape.builder.writeTo(archive_));
    const std::uint64_t archiveSize = fs::file_size(archive_);
    const std::vector<std::string> environment = {"SORVEL_PASSWORD=hostile"};
    const std::size_t items = runTool({"list", archive_}, environment).stdoutLines().size();
    testing::ProcessRequest request;
    request.program = "/bin/bash";
    request.args = {"-c", R"("$0" export --quiet "$1" -o - | wc -c; exit "${PIPESTATUS[0]}")", SORVEL_TOOL_EXE,
                    archive_};
    request.environment = environment;
    request.timeout = std::chrono::seconds(120);
    const testing::ProcessResult result = testing::runProcess(request);
    ASSERT_TRUE(result.exited) << "signal " << result.signal;
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 11) << result.exitCode;
    const std::uint64_t tarSize = std::stoull(result.stdoutText);
    EXPECT_GT(tarSize, 0u);
    EXPECT_LE(tarSize, archiveSize + 2048 * (items + 1)) << items << " items";
  }
}

}  // namespace
}  // namespace sorvel
