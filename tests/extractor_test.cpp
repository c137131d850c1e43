#include "app/Extractor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <system_error>
#include <thread>

#include "platform/Utf16.h"
#include "support/ArchiveBuilder.h"
#include "support/FileState.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the archive `builder` describes (without a password) to `path` and opens it.
void openBuilt(const testing::ArchiveBuilder& builder, const std::string& path, Archive& archive) {
  ASSERT_TRUE(builder.writeTo(path));
  ASSERT_TRUE(archive.checkPassword(path, {}));
  ASSERT_TRUE(archive.open(path));
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
    EXPECT_TRUE(extractor.extract(u"\\b.txt", out));
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
  Archive archive;
  openBuilt(builder, dir.file("swap.sva"), archive);
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
  Archive archive;
  openBuilt(builder, dir.file("details.sva"), archive);
  Extractor extractor(archive, [](const std::string&) {});
  EXPECT_TRUE(extractor.extract(u"\\", dir.file("out")));
  EXPECT_EQ(readText(dir.file("out/docs/a.txt")), "alpha");
  EXPECT_FALSE(extractor.reportedProblems());
  EXPECT_EQ(archive.detailTableLoads(), 0u);
}

// Walks on two writers, with runs of three files so that every folder of a few files and every
// long folder is cut among both.
constexpr Extractor::Writers kTwoWriters{.count = 2, .minFiles = 0, .filesPerRun = 3};
constexpr Extractor::Writers kOneWriter{.count = 1};

// An archive of `folders` folders \fNN of `files` files each; a file holds its own path.
struct ShapedArchive {
  testing::TempDir dir;
  Archive archive;
  std::vector<std::string> files;  // below the output folder, in listing order

  ShapedArchive(int folders, int filesPerFolder, const std::u16string& longName = {}) {
    testing::ArchiveBuilder builder;
    for (int f = 0; f < folders; ++f) {
      char folder[16];
      std::snprintf(folder, sizeof folder, "f%02d", f % 100);
      builder.addFolder(u"\\" + toUtf16(folder));
      for (int i = 0; i < filesPerFolder; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "x%03d", i);
        const std::string path = std::string(folder) + "/" + name;
        builder.addFile(u"\\" + toUtf16(folder) + u"\\" + toUtf16(name), testing::bytesOf(path));
        files.push_back(path);
      }
      if (!longName.empty()) builder.addFile(u"\\" + toUtf16(folder) + u"\\" + longName, testing::bytesOf("long"));
    }
    const std::string path = dir.file("shaped.sva");
    EXPECT_TRUE(builder.writeTo(path));
    EXPECT_TRUE(archive.checkPassword(path, {}));
    EXPECT_TRUE(archive.open(path));
  }
};

std::vector<std::string> walk(Archive& archive, const std::string& out, Extractor::Writers writers,
                              std::function<void(std::u16string_view)> afterItem = {}) {
  std::vector<std::string> reports;
  Extractor extractor(archive, [&reports](const std::string& line) { reports.push_back(line); });
  extractor.setWriters(writers);
  if (afterItem) extractor.setAfterItem(std::move(afterItem));
  extractor.extract(u"\\", out);
  return reports;
}

bool hasTemporaryFiles(const std::string& out) {
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (entry.path().filename().string().starts_with(".sv-")) return true;
  }
  return false;
}

// Failures spread over both writers (a folder in the way of every seventh file, a name too long
// in every folder) are reported in listing order, exactly as one writer reports them, and no
// other file is lost or left half written.
TEST(ExtractorTwoWriters, ReportLikeOneWriterWithFailuresSpreadOverBoth) {
  struct Shape {
    const char* name;
    int folders;
    int files;
  };
  for (const Shape shape : {Shape{"many folders, few files", 40, 2}, Shape{"one folder, many files", 1, 150}}) {
    SCOPED_TRACE(shape.name);
    ShapedArchive data(shape.folders, shape.files, std::u16string(300, u'n'));
    std::vector<std::string> reportsOf[2];
    for (int run = 0; run < 2; ++run) {
      const std::string out = data.dir.file(run == 0 ? "one" : "two");
      for (std::size_t i = 0; i < data.files.size(); i += 7) fs::create_directories(out + "/" + data.files[i]);
      reportsOf[run] = walk(data.archive, out, run == 0 ? kOneWriter : kTwoWriters);
      for (std::size_t i = 0; i < data.files.size(); ++i) {
        if (i % 7 != 0) {
          EXPECT_EQ(readText(out + "/" + data.files[i]), data.files[i]);
        }
      }
      EXPECT_FALSE(hasTemporaryFiles(out));
    }
    EXPECT_EQ(reportsOf[1], reportsOf[0]);
    EXPECT_EQ(reportsOf[1].size(), (data.files.size() + 6) / 7 + shape.folders);
    EXPECT_TRUE(std::is_sorted(reportsOf[1].begin(), reportsOf[1].end()));  // listing order is name order here
  }
}

// Kept files are no problems: on two writers as on one, every planted file stays as it was, is
// noted as kept in listing order and reported by no line, and every other file is written.
TEST(ExtractorTwoWriters, KeptFilesAreNotedInListingOrderAndReportNothing) {
  ShapedArchive data(1, 150);
  for (const Extractor::Writers writers : {kOneWriter, kTwoWriters}) {
    SCOPED_TRACE(writers.count);
    const std::string out = data.dir.file("keep" + std::to_string(writers.count));
    std::vector<std::u16string> planted;
    for (std::size_t i = 0; i < data.files.size(); i += 5) {
      data.dir.writeFile(fs::path(out).filename().string() + "/" + data.files[i], "planted");
      planted.push_back(u"\\" + toUtf16(data.files[i]));
      std::replace(planted.back().begin(), planted.back().end(), u'/', u'\\');
    }
    std::vector<std::string> reports;
    Extractor extractor(data.archive, [&reports](const std::string& line) { reports.push_back(line); });
    extractor.setWriters(writers);
    extractor.setExistingFiles(Extractor::ExistingFiles::Keep);
    extractor.extract(u"\\", out);
    EXPECT_EQ(reports, std::vector<std::string>{});
    EXPECT_FALSE(extractor.reportedProblems());
    EXPECT_EQ(extractor.kept(), planted);
    for (std::size_t i = 0; i < data.files.size(); ++i) {
      EXPECT_EQ(readText(out + "/" + data.files[i]), i % 5 == 0 ? "planted" : data.files[i]);
    }
  }
}

// Links planted before the walk, one to a folder outside and one dangling, are refused with
// everything below them on two writers as on one, and nothing outside changes.
TEST(ExtractorTwoWriters, LinksInTheOutputTreeAreRefused) {
  ShapedArchive data(20, 4);
  const std::string outside = data.dir.makeDir("outside");
  std::vector<std::string> reportsOf[2];
  for (int run = 0; run < 2; ++run) {
    const std::string out = data.dir.file(run == 0 ? "one" : "two");
    fs::create_directories(out);
    fs::create_directory_symlink(outside, out + "/f05");
    fs::create_directory_symlink(data.dir.file("nowhere"), out + "/f17");
    reportsOf[run] = walk(data.archive, out, run == 0 ? kOneWriter : kTwoWriters);
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(data.dir.file("nowhere")));
  }
  EXPECT_EQ(reportsOf[1], reportsOf[0]);
  EXPECT_EQ(reportsOf[1].size(), 2u * 5);  // each folder and its four files
  for (const std::string& line : reportsOf[1]) EXPECT_TRUE(line.ends_with("symbolic link in the way")) << line;
}

// Folders swapped for links while the writers are at work: whichever folders the writers had
// reached by then (that varies from run to run; the test above plants links at fixed places),
// nothing lands outside, and every file is either written whole inside the output folder or
// reported.
TEST(ExtractorTwoWriters, FoldersSwappedForLinksMidWalkLeadNowhereOutside) {
  ShapedArchive data(40, 10);
  const std::string outside = data.dir.makeDir("outside");
  const std::string out = data.dir.file("out");
  auto swapLaterFolders = [&](std::u16string_view path) {
    if (path != u"\\f02\\x000") return;
    for (int f = 10; f < 40; ++f) {
      const std::string folder = out + "/f" + std::to_string(f);
      std::error_code ignored;
      fs::rename(folder, out + "/moved" + std::to_string(f), ignored);  // where it is made already
      fs::create_directory_symlink(outside, folder);
    }
  };
  const std::vector<std::string> reports = walk(data.archive, out, kTwoWriters, swapLaterFolders);
  EXPECT_TRUE(fs::is_empty(outside));
  std::size_t written = 0;
  for (const std::string& file : data.files) {
    const std::string moved = out + "/moved" + file.substr(1);
    if (fs::is_regular_file(out + "/" + file) && !fs::is_symlink(out + "/" + file.substr(0, 3))) {
      EXPECT_EQ(readText(out + "/" + file), file);
      ++written;
    } else if (fs::is_regular_file(moved)) {
      EXPECT_EQ(readText(moved), file);
      ++written;
    }
  }
  std::size_t refusedFiles = 0;
  for (const std::string& line : reports) refusedFiles += line.find("\\x") != std::string::npos;
  EXPECT_EQ(written + refusedFiles, data.files.size());
}

// Someone who may write into the output folder and sees each call the extraction makes: a seccomp
// filter on the calling thread (and the threads it starts) stops each call that looks at a file
// by name or may change one by name until the test has answered it, and the test moves the
// folder's entries in between. -1 where the system does not allow such a filter.
enum class CallKind { Looks, Changes };

int stopAtCallsByName() {
#if defined(__x86_64__)
  constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
  return -1;
#endif
  constexpr long kFchmodat2 = 452, kOpenat2 = 437;  // the same on every architecture
  std::vector<long> calls = {SYS_newfstatat, SYS_statx,       SYS_fchmodat,    kFchmodat2, SYS_fchownat,
                             SYS_truncate,   SYS_utimensat,   SYS_openat,      kOpenat2,   SYS_setxattr,
                             SYS_lsetxattr,  SYS_removexattr, SYS_lremovexattr};
#ifdef SYS_chmod
  calls.insert(calls.end(),
               {SYS_stat, SYS_lstat, SYS_chmod, SYS_chown, SYS_lchown, SYS_open, SYS_utimes, SYS_utime, SYS_futimesat});
#endif
  std::vector<sock_filter> filter = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
  };
  for (const long call : calls) {
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 1));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
  }
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
  return static_cast<int>(::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
}

CallKind kindOf(long call) {
  for (const long looking : {long{SYS_newfstatat}, long{SYS_statx}}) {
    if (call == looking) return CallKind::Looks;
  }
#ifdef SYS_stat
  if (call == SYS_stat || call == SYS_lstat) return CallKind::Looks;
#endif
  return CallKind::Changes;
}

// A read-only file planted in the output folder (setuid, as someone who may write there would
// plant it) and a link to a file outside swap places whenever that serves an attack: the file
// stands at the name whenever the extraction looks at it, the link whenever it makes a call that
// could change a file by name. Under every policy on existing files, the file outside keeps its
// mode, owner, content and times, its change time included (a chmod or chown would move it).
TEST(ExtractorExistingFiles, AReadOnlyFileSwappedForALinkAtEveryCallLeavesTheFileOutsideAsItWas) {
  testing::TempDir dir;
  testing::ArchiveBuilder builder;
  builder.addFile(u"f", "new");
  Archive archive;
  openBuilt(builder, dir.file("one.sva"), archive);
  const std::string outside = dir.writeFile("outside/target", "outside");
  ASSERT_EQ(::chmod(outside.c_str(), 0444), 0);
  struct stat before {};
  ASSERT_EQ(::lstat(outside.c_str(), &before), 0);
  const testing::FileState kept = testing::fileStateOf(before);

  using Policy = Extractor::ExistingFiles;
  for (const Policy policy : {Policy::ReplaceAll, Policy::ReplaceWritable, Policy::Keep}) {
    SCOPED_TRACE(static_cast<int>(policy));
    const std::string out = dir.file("out" + std::to_string(static_cast<int>(policy)));
    const std::string planted = dir.writeFile(fs::path(out).filename().string() + "/f", "planted");
    ASSERT_EQ(::chmod(planted.c_str(), 04555), 0);
    fs::create_symlink(outside, out + "/link");
    const int folder = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);

    std::atomic<int> listener{-2};
    std::atomic<bool> finished{false};
    std::thread extraction([&] {
      const int fd = stopAtCallsByName();  // this thread's alone, and the threads it starts
      listener = fd;
      if (fd >= 0) {
        Extractor extractor(archive, [](const std::string&) {});
        extractor.setExistingFiles(policy);
        extractor.extract(u"\\", out);
      }
      finished = true;
    });
    while (listener == -2) std::this_thread::yield();
    if (listener < 0) {
      extraction.join();
      ::close(folder);
      GTEST_SKIP() << "no seccomp filter with a listener here: " << std::strerror(errno);
    }
    bool linkAtName = false;
    int swaps = 0;
    while (!finished) {
      pollfd ready{listener, POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0) continue;
      seccomp_notif call{};
      if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &call) != 0) continue;
      if ((kindOf(call.data.nr) == CallKind::Changes) != linkAtName &&
          ::renameat2(folder, "f", folder, "link", RENAME_EXCHANGE) == 0) {
        linkAtName = !linkAtName;
        ++swaps;
      }
      seccomp_notif_resp answer{};
      answer.id = call.id;
      answer.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
      ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &answer);
    }
    extraction.join();
    ::close(listener);
    ::close(folder);
    EXPECT_GT(swaps, 1);

    struct stat after {};
    ASSERT_EQ(::lstat(outside.c_str(), &after), 0);
    EXPECT_EQ(testing::fileStateOf(after), kept);
    EXPECT_EQ(after.st_nlink, before.st_nlink);
    EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
  }
  EXPECT_EQ(readText(outside), "outside");
}

// A writer thread that cannot start leaves the walk to one writer: every file is written, and
// nothing is reported.
TEST(ExtractorTwoWriters, AWriterThatCannotStartLeavesTheWalkToOne) {
  ShapedArchive data(10, 6);
  for (const int failing : {0, 1}) {
    SCOPED_TRACE(failing == 0 ? "the first start fails" : "the second start fails");
    const std::string out = data.dir.file("out" + std::to_string(failing));
    std::vector<std::string> reports;
    Extractor extractor(data.archive, [&reports](const std::string& line) { reports.push_back(line); });
    extractor.setWriters(kTwoWriters);
    int starts = 0;
    extractor.setStartThread([&](std::function<void()> body) {
      if (starts++ == failing) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return std::thread(std::move(body));
    });
    EXPECT_TRUE(extractor.extract(u"\\", out));
    EXPECT_EQ(starts, failing + 1);
    EXPECT_TRUE(reports.empty());
    for (const std::string& file : data.files) EXPECT_EQ(readText(out + "/" + file), file);
    EXPECT_FALSE(hasTemporaryFiles(out));
  }
}

// A writer that throws in the middle of a file (memory exhausted) stops both writers: the walk
// ends normally, no temporary file is left, every file is either written whole or reported in
// listing order, the one the writer was on with the failure and the rest as not written.
TEST(ExtractorTwoWriters, AWriterThatThrowsStopsBothAndEveryFileNotWrittenIsReported) {
  ShapedArchive data(40, 10);
  for (const int failingWrite : {1, 60}) {
    SCOPED_TRACE(failingWrite);
    const std::string out = data.dir.file("out" + std::to_string(failingWrite));
    std::vector<std::string> reports;
    Extractor extractor(data.archive, [&reports](const std::string& line) { reports.push_back(line); });
    extractor.setWriters(kTwoWriters);
    std::atomic<int> writes{0};
    extractor.setWriteCall([&](NativeHandle file, const void* bytes, std::size_t count) -> std::ptrdiff_t {
      if (++writes == failingWrite) throw std::bad_alloc();
      return ::write(static_cast<int>(file), bytes, count);
    });
    extractor.extract(u"\\", out);
    EXPECT_FALSE(hasTemporaryFiles(out));
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));  // listing order is name order here
    auto endingIn = [&](std::string_view end) {
      return std::count_if(reports.begin(), reports.end(),
                           [&](const std::string& line) { return line.ends_with(end); });
    };
    EXPECT_EQ(endingIn(": Cannot allocate memory"), 1);
    EXPECT_EQ(endingIn(": extraction stopped") + 1, static_cast<std::ptrdiff_t>(reports.size()));
    std::size_t written = 0;
    for (const std::string& file : data.files) {
      std::string path = file;
      std::replace(path.begin(), path.end(), '/', '\\');
      const std::string told = "Error: can not extract: \\" + path + ": ";
      const auto lines = std::count_if(reports.begin(), reports.end(),
                                       [&](const std::string& line) { return line.starts_with(told); });
      if (fs::exists(out + "/" + file)) {
        EXPECT_EQ(lines, 0) << file;
        EXPECT_EQ(readText(out + "/" + file), file);
        ++written;
      } else {
        EXPECT_EQ(lines, 1) << file;
      }
    }
    EXPECT_LT(written, data.files.size());
    EXPECT_GE(written, static_cast<std::size_t>(failingWrite - 1));
  }
}

// An exception on the calling thread (here from reporting a line) leaves the walk with both
// writers stopped and joined, and no temporary file behind.
TEST(ExtractorTwoWriters, AnExceptionOnTheCallingThreadStopsTheWritersFirst) {
  ShapedArchive data(20, 10);
  const std::string out = data.dir.file("out");
  fs::create_directories(out + "/" + data.files[35]);  // a folder in the way: one line to report
  Extractor extractor(data.archive, [](const std::string&) { throw std::bad_alloc(); });
  extractor.setWriters(kTwoWriters);
  EXPECT_THROW(extractor.extract(u"\\", out), std::bad_alloc);
  EXPECT_FALSE(hasTemporaryFiles(out));
}

}  // namespace
}  // namespace sorvel
