// The program run as a user runs it, over archive headers written by the tests: arguments,
// standard input, the exact lines on both streams and the exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "archive/ArchiveHeader.h"
#include "support/ProcessRunner.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

using testing::ProcessResult;
using testing::TempDir;

const std::vector<std::string> kHelp = {
    "=====================================",
    "Sorvel Extractor v1.0.0",
    "=====================================",
    "Usage:",
    "  sorvelExtractorWin <archive_path_name> <out_dir>",
    "Example:",
    "  sorvelExtractorWin virt.sva export_out",
    "  sorvelExtractorWin ./virt.sva ./out",
    "No argument -> show this help.",
};

const std::vector<std::string> kEcho = {"Input  : {CWD}/a.sva", "Output : {CWD}/out"};

// The messages with which the front end itself turns an archive down.
const std::vector<std::string> kHeaderMessages = {
    "Error: archive format error !",
    "Error: unnkown archive version!",
    "Error: unsupported authen type!",
    "Error: archive can not be opened !",
};

std::vector<std::uint8_t> headerBytes(std::uint8_t authType, std::uint8_t cipherType, std::uint8_t noPassword = 0) {
  ArchiveHeader header;
  header.setMagic();
  header.paramWord = 16;
  header.lastBlock = 2;
  header.authType = authType;
  header.cipherType = cipherType;
  header.noPassword = noPassword;
  header.headerSignature = kHeaderSignature;
  const auto bytes = header.serialize();
  return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> magicFollowedBy(std::uint8_t byte21) {
  std::vector<std::uint8_t> bytes = headerBytes(1, 1);
  bytes[21] = byte21;
  return bytes;
}

std::vector<std::uint8_t> magicOnly() {
  std::vector<std::uint8_t> bytes = headerBytes(1, 1);
  bytes.resize(kArchiveMagic.size() + 1);
  return bytes;
}

std::vector<std::uint8_t> noiseAfterMagicNul() {
  std::vector<std::uint8_t> bytes = headerBytes(1, 1);
  for (std::size_t i = 22; i < 32; ++i) bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  return bytes;
}

std::vector<std::string> withEcho(std::vector<std::string> more) {
  std::vector<std::string> lines = kEcho;
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

struct FrontEndCase {
  const char* name;
  std::vector<std::string> args;                     // "{CWD}" stands for the test folder, the working directory
  std::optional<std::vector<std::uint8_t>> archive;  // written as a.sva
  std::string stdinBytes;
  std::vector<std::string> stdoutLines;
  std::vector<std::string> stderrLines;
  // Nothing when the run reaches the archive steps, which decide the code themselves; the
  // front end must then have printed none of its header messages.
  std::optional<int> exitCode;
  void (*setup)(const TempDir&) = nullptr;
};

void PrintTo(const FrontEndCase& c, std::ostream* os) { *os << c.name; }

std::string expand(std::string text, const std::string& cwd) {
  for (std::size_t at = text.find("{CWD}"); at != std::string::npos; at = text.find("{CWD}", at + cwd.size())) {
    text.replace(at, 5, cwd);
  }
  return text;
}

std::vector<std::string> expand(const std::vector<std::string>& lines, const std::string& cwd) {
  std::vector<std::string> out;
  for (const std::string& line : lines) out.push_back(expand(line, cwd));
  return out;
}

const std::vector<std::string> kArgs = {"a.sva", "out"};
const std::vector<std::string> kPrompt3 = {"Password: ***"};  // the reply "abc\n"

const FrontEndCase kCases[] = {
    {"NoArgumentsShowsHelp", {}, std::nullopt, "", kHelp, {}, 0},
    {"OneArgument", {"a.sva"}, headerBytes(1, 1), "", kHelp, {"Error: invalid argument count!"}, 1},
    // A single argument is an option: three are known, anything else is a wrong count.
    {"HelpOption", {"--help"}, std::nullopt, "", kHelp, {}, 0},
    {"ShortHelpOption", {"-h"}, std::nullopt, "", kHelp, {}, 0},
    {"VersionOption", {"--version"}, std::nullopt, "", {"Sorvel Extractor v1.0.0"}, {}, 0},
    {"OptionsAreCaseSensitive", {"--HELP"}, std::nullopt, "", kHelp, {"Error: invalid argument count!"}, 1},
    {"UnknownOption", {"-v"}, std::nullopt, "", kHelp, {"Error: invalid argument count!"}, 1},
    {"OptionPrefixIsNoOption", {"--help=x"}, std::nullopt, "", kHelp, {"Error: invalid argument count!"}, 1},
    {"HelpBesideOtherArguments",
     {"--help", "out"},
     std::nullopt,
     "",
     {},
     {"Error: sorvel archive not exist: {CWD}/--help"},
     3},
    {"ThreeArguments", {"a.sva", "out", "extra"}, headerBytes(1, 1), "", kHelp, {"Error: invalid argument count!"}, 1},
    {"MissingArchive",
     {"missing.sva", "out"},
     std::nullopt,
     "",
     {},
     {"Error: sorvel archive not exist: {CWD}/missing.sva"},
     3},
    {"MissingParentFolder",
     {"nowhere/a.sva", "out"},
     std::nullopt,
     "",
     {},
     {"Error: sorvel archive not exist: {CWD}/nowhere/a.sva"},
     3},
    {"ArchiveThroughAFile",
     {"a.sva/inner", "out"},
     headerBytes(1, 1),
     "",
     {},
     {"Error: sorvel archive not exist: {CWD}/a.sva/inner"},
     3},
    {"FolderAsArchive",
     {"adir", "out"},
     std::nullopt,
     "",
     {},
     {"Error: sorvel archive not exist: {CWD}/adir"},
     3,
     [](const TempDir& dir) { dir.makeDir("adir"); }},
    {"DanglingLinkIsMissing",
     {"dangling.sva", "out"},
     std::nullopt,
     "",
     {},
     {"Error: sorvel archive not exist: {CWD}/dangling.sva"},
     3,
     [](const TempDir& dir) { ASSERT_EQ(::symlink("gone.sva", dir.file("dangling.sva").c_str()), 0); }},
    {"LinkLoopReportsTheReason",
     {"loop.sva", "out"},
     std::nullopt,
     "",
     {},
     {"Error: sorvel archive not accessible: {CWD}/loop.sva: Too many levels of symbolic links"},
     3,
     [](const TempDir& dir) { ASSERT_EQ(::symlink("loop.sva", dir.file("loop.sva").c_str()), 0); }},
    {"RelativePathsFoldedWithoutTouchingDisk",
     {"nosuch/../a.sva", "./x/./../out/"},
     headerBytes(1, 1),
     "abc\n",
     {"Input  : {CWD}/a.sva", "Output : {CWD}/out/", "Password: ***"},
     {},
     std::nullopt},
    {"AbsolutePathsKeptAsGiven",
     {"{CWD}//a.sva", "{CWD}/out"},
     headerBytes(1, 1),
     "abc\n",
     withEcho(kPrompt3),
     {},
     std::nullopt},
    {"LinkEchoedUnresolved",
     {"link.sva", "out"},
     headerBytes(1, 1),
     "abc\n",
     {"Input  : {CWD}/link.sva", "Output : {CWD}/out", "Password: ***"},
     {},
     std::nullopt,
     [](const TempDir& dir) { ASSERT_EQ(::symlink("a.sva", dir.file("link.sva").c_str()), 0); }},
    {"EmptyArchiveIsFormatError",
     kArgs,
     std::vector<std::uint8_t>{},
     "abc\n",
     kEcho,
     {"Error: archive format error !"},
     6},
    {"Byte21NotNul", kArgs, magicFollowedBy('!'), "abc\n", kEcho, {"Error: archive format error !"}, 6},
    {"MagicCaseMatters",
     kArgs,
     [] {
       auto bytes = headerBytes(1, 1);
       bytes[0] = 'k';
       return bytes;
     }(),
     "abc\n",
     kEcho,
     {"Error: archive format error !"},
     6},
    {"BytesAfterMagicNulIgnored", kArgs, noiseAfterMagicNul(), "abc\n", withEcho(kPrompt3), {}, std::nullopt},
    {"MagicOnlyFileReadsAsZeros", kArgs, magicOnly(), "abc\n", kEcho, {"Error: unnkown archive version!"}, 7},
    // The version test: authType 1 or cipherType 2 is a known version.
    {"Auth1Aes", kArgs, headerBytes(1, 1), "abc\n", withEcho(kPrompt3), {}, std::nullopt},
    {"Auth1Blowfish", kArgs, headerBytes(1, 2), "abc\n", withEcho(kPrompt3), {}, std::nullopt},
    {"Auth1Xts", kArgs, headerBytes(1, 3), "abc\n", withEcho(kPrompt3), {}, std::nullopt},
    {"Auth0Blowfish", kArgs, headerBytes(0, 2), "abc\n", withEcho(kPrompt3), {}, std::nullopt},
    {"Auth4Blowfish", kArgs, headerBytes(4, 2), "abc\n", withEcho(kPrompt3), {}, std::nullopt},
    {"Auth0Aes", kArgs, headerBytes(0, 1), "abc\n", kEcho, {"Error: unnkown archive version!"}, 7},
    {"Auth3Aes", kArgs, headerBytes(3, 1), "abc\n", kEcho, {"Error: unnkown archive version!"}, 7},
    {"Auth2Xts", kArgs, headerBytes(2, 3), "abc\n", kEcho, {"Error: unnkown archive version!"}, 7},
    // Authentication types 2 and 3 are refused once the version test has passed.
    {"Auth2Blowfish", kArgs, headerBytes(2, 2), "abc\n", kEcho, {"Error: unsupported authen type!"}, 8},
    {"Auth3Blowfish", kArgs, headerBytes(3, 2), "abc\n", kEcho, {"Error: unsupported authen type!"}, 8},
    // A key block cipher that does not exist is refused before the prompt.
    {"UnknownCipherBeforePrompt", kArgs, headerBytes(1, 5), "abc\n", kEcho, {"Error: unnkown archive version!"}, 7},
    {"CipherNoneBeforePrompt", kArgs, headerBytes(1, 0), "abc\n", kEcho, {"Error: unnkown archive version!"}, 7},
    {"NoPasswordMeansNoPrompt", kArgs, headerBytes(1, 1, 1), "abc\n", kEcho, {}, std::nullopt},
    {"NoPasswordAnyNonZero", kArgs, headerBytes(1, 2, 0x80), "abc\n", kEcho, {}, std::nullopt},
    // The prompt reads standard input when it is not a terminal.
    {"PipedBackspaces",
     kArgs,
     headerBytes(1, 1),
     std::string("\bab\x7f"
                 "cd\n",
                 7),
     withEcho({"Password: **\b \b**"}),
     {},
     std::nullopt},
    {"PipedTwoUnitCharacter",
     kArgs,
     headerBytes(1, 1),
     "p\xF0\x9F\x98\x80s\r",
     withEcho({"Password: ****"}),
     {},
     std::nullopt},
    {"PipedEndOfInputEndsPrompt", kArgs, headerBytes(1, 1), "", withEcho({"Password: "}), {}, std::nullopt},
    {"PipedUnterminatedPassword", kArgs, headerBytes(1, 1), "ab", withEcho({"Password: **"}), {}, std::nullopt},
    // Paths are echoed and reported with what a terminal would act on escaped.
    {"ControlCharactersInEchoedPaths",
     {"a.sva", "o\x1b[2Ju\nt\\x"},
     headerBytes(1, 1),
     "abc\n",
     {"Input  : {CWD}/a.sva", "Output : {CWD}/o\\x1B[2Ju\\x0At\\x", "Password: ***"},
     {},
     std::nullopt},
    {"ForgedLineInMissingArchiveName",
     {"x\nArchive extracted successfully! ", "out"},
     std::nullopt,
     "",
     {},
     {"Error: sorvel archive not exist: {CWD}/x\\x0AArchive extracted successfully! "},
     3},
};

class FrontEndTest : public ::testing::TestWithParam<FrontEndCase> {};

TEST_P(FrontEndTest, PrintsAndExitsAsExpected) {
  const FrontEndCase& c = GetParam();
  TempDir dir;
  if (c.archive) dir.writeFile("a.sva", *c.archive);
  if (c.setup != nullptr) c.setup(dir);

  const ProcessResult run = testing::runSorvel(expand(c.args, dir.path()), c.stdinBytes, dir.path());
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timedOut);
  ASSERT_TRUE(run.exited) << "signal " << run.signal;
  EXPECT_EQ(run.stdoutLines(), expand(c.stdoutLines, dir.path()));
  if (!run.stdoutText.empty()) {
    EXPECT_EQ(run.stdoutText.back(), '\n');
  }
  if (c.exitCode) {
    EXPECT_EQ(run.exitCode, *c.exitCode);
    EXPECT_EQ(run.stderrLines(), expand(c.stderrLines, dir.path()));
  } else {
    for (const std::string& message : kHeaderMessages) EXPECT_EQ(run.stderrText.find(message), std::string::npos);
  }
}

std::string caseName(const ::testing::TestParamInfo<FrontEndCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Cases, FrontEndTest, ::testing::ValuesIn(kCases), caseName);

TEST(FrontEndUnreadable, ArchiveThatCannotBeOpenedIsReported) {
  TempDir dir;
  const std::string archive = dir.writeFile("a.sva", headerBytes(1, 1));
  ASSERT_EQ(::chmod(archive.c_str(), 0), 0);

  testing::ProcessRequest request;
  request.workingDirectory = dir.path();
  request.args = {"a.sva", "out"};
  request.stdinBytes = "abc\n";
  const int probe = ::open(archive.c_str(), O_RDONLY);
  if (probe >= 0) {
    // Permissions do not stop this user (root): run the program as an unprivileged one.
    ::close(probe);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    request.program = "/usr/bin/setpriv";
    request.args = {"--reuid=65534", "--regid=65534", "--clear-groups", SORVEL_EXE};
    const ProcessResult help = testing::runProcess(request);
    if (!help.exited || help.exitCode != 0) GTEST_SKIP() << "cannot run the program as an unprivileged user";
    request.args.insert(request.args.end(), {"a.sva", "out"});
  }

  const ProcessResult run = testing::runProcess(request);
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exitCode, 10);
  EXPECT_EQ(run.stdoutLines(), expand(kEcho, dir.path()));
  EXPECT_EQ(run.stderrLines(), std::vector<std::string>{"Error: archive can not be opened !"});
}

TEST(FrontEndPaths, VanishedWorkingFolderFailsRelativePaths) {
  TempDir dir;
  dir.writeFile("a.sva", headerBytes(1, 1));
  dir.makeDir("gone");
  // The shell leaves the folder it stands in; the program then has no current directory.
  testing::ProcessRequest request;
  request.program = "/bin/sh";
  request.workingDirectory = dir.file("gone");
  request.args = {"-c", "rmdir \"$PWD\" && exec \"$0\" \"$@\"", SORVEL_EXE, "a.sva", "out"};
  const ProcessResult relative = testing::runProcess(request);
  ASSERT_TRUE(relative.exited);
  EXPECT_EQ(relative.exitCode, 2);
  EXPECT_EQ(relative.stdoutText, "");
  EXPECT_EQ(relative.stderrLines(), std::vector<std::string>{"Error: Path resolve failed: No such file or directory"});

  // An absolute archive path needs no current directory; the relative output path still does.
  dir.makeDir("gone");
  request.args = {"-c", "rmdir \"$PWD\" && exec \"$0\" \"$@\"", SORVEL_EXE, dir.file("a.sva"), "out"};
  const ProcessResult mixed = testing::runProcess(request);
  ASSERT_TRUE(mixed.exited);
  EXPECT_EQ(mixed.exitCode, 2);
  EXPECT_EQ(mixed.stderrLines(), std::vector<std::string>{"Error: Path resolve failed: No such file or directory"});
}

TEST(FrontEndPassword, EndlessInputEndsThePromptAfterOneMebibyte) {
  TempDir dir;
  dir.writeFile("a.sva", headerBytes(1, 1));
  testing::ProcessRequest request;
  request.program = "/bin/sh";
  request.workingDirectory = dir.path();
  request.args = {"-c", "exec \"$0\" a.sva out < /dev/zero", SORVEL_EXE};
  const ProcessResult run = testing::runProcess(request);
  ASSERT_FALSE(run.timedOut);
  ASSERT_TRUE(run.exited) << "signal " << run.signal;
  // Every NUL read is a character of the password, one star each, and then the line ends.
  EXPECT_EQ(run.stdoutLines(), expand(withEcho({"Password: " + std::string(std::size_t{1} << 20, '*')}), dir.path()));
  EXPECT_EQ(run.exitCode, 9);
  EXPECT_EQ(run.stderrLines(), std::vector<std::string>{"Error: incorrect password!"});
}

// A password that is not ASCII needs ICU to be normalised: where it cannot be loaded, the run
// says so in one line rather than calling a right password wrong; the exit code stays 9.
TEST(FrontEndPassword, ANonAsciiPasswordWithoutIcuSaysWhyItCannotBeUsed) {
  TempDir dir;
  dir.writeFile("a.sva", headerBytes(1, 1));
  testing::ProcessRequest request;
  request.workingDirectory = dir.path();
  request.args = {"a.sva", "out"};
  request.stdinBytes = "p\xC3\xA4ss\n";
  request.environment = testing::environmentWithoutIcu();
  const ProcessResult run = testing::runProcess(request);
  ASSERT_TRUE(run.exited) << "signal " << run.signal;
  EXPECT_EQ(run.exitCode, 9);
  EXPECT_EQ(run.stdoutLines(), expand(withEcho({"Password: ****"}), dir.path()));
  const std::vector<std::string> errors = run.stderrLines();
  ASSERT_EQ(errors.size(), 1u) << run.stderrText;
  EXPECT_TRUE(
      errors[0].starts_with("Error: can not normalise the password: ICU can not be loaded: /nonexistent/libicuuc.so: "))
      << errors[0];
}

}  // namespace
}  // namespace sorvel
