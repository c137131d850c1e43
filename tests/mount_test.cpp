// The archive mounted for real through FUSE (`sorvel mount`): the tree matches an extraction of
// the same archive, reads at any offset give the plain data, readers may run side by side and
// may be inside when the file system goes (killed too), a damaged file fails with EIO where its
// content ends, and nothing can be written; the mount point and -o options are checked before the
// password is asked for. Where /dev/fuse is missing or mounting is not permitted the tests that
// mount say so on one line and are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ArchiveBuilder.h"
#include "support/DamagedArchives.h"
#include "support/HostileArchives.h"
#include "support/FileTree.h"
#include "support/ProcessMemory.h"
#include "support/ProcessRunner.h"
#include "support/ToolRun.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

// The tool's command line for a mount with `args`.
std::vector<std::string> mountCommand(std::vector<std::string> args) {
  args.insert(args.begin(), "mount");
  return args;
}

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ArchiveBuilder;
using testing::bytesOf;

constexpr const char* kPassword = "mount-pw";

// A mount's line in the mount table: its file system type and source (paths without blanks).
struct MountEntry {
  std::string type;
  std::string source;
};

std::optional<MountEntry> mountEntry(const std::string& mountPoint) {
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    fields >> id >> parent >> device >> root >> point;
    if (point != mountPoint) continue;
    MountEntry entry;
    // Optional fields, then "-", the type and the source.
    std::string field;
    while (fields >> field && field != "-") continue;
    fields >> entry.type >> entry.source;
    return entry;
  }
  return std::nullopt;
}

bool isMounted(const std::string& mountPoint) { return mountEntry(mountPoint).has_value(); }

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

void unmount(const std::string& mountPoint) {
  for (int attempt = 0; attempt < 50 && isMounted(mountPoint); ++attempt) {
    testing::ProcessRequest request;
    request.program = "/usr/bin/fusermount3";
    request.args = {"-u", "-q", mountPoint};
    if (attempt >= 20) request.args = {"-u", "-z", "-q", mountPoint};
    testing::runProcess(request);
    if (isMounted(mountPoint)) std::this_thread::sleep_for(50ms);
  }
}

// One mount, unmounted when the object goes, whatever happened meanwhile. `foreground` runs the
// file system as a child of the test (its standard error in a file); otherwise the program
// detaches once the mount is ready.
class Mount {
 public:
  Mount(const std::string& archive, const std::string& mountPoint, bool foreground, std::vector<std::string> extra = {})
      : mountPoint_(mountPoint), errorLog_(mountPoint + ".log") {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
      skip_ = "no usable /dev/fuse here (" + std::string(std::strerror(errno)) + "): mount tests skipped";
      return;
    }
    fs::create_directories(mountPoint);
    std::vector<std::string> args = {archive, mountPoint};
    args.insert(args.end(), extra.begin(), extra.end());
    if (foreground) {
      args.push_back("-f");
      start(args);
    } else {
      testing::ProcessRequest request;
      request.program = SORVEL_MOUNT_EXE;
      request.args = mountCommand(args);
      request.environment = {std::string("SORVEL_PASSWORD=") + kPassword};
      const testing::ProcessResult result = testing::runProcess(request);
      error_ = result.stderrText;
      if (!result.exited || result.exitCode != 0) {
        judgeFailure();
        return;
      }
    }
    ready_ = isMounted(mountPoint_);
    if (!ready_ && error_.empty()) error_ = "not mounted after the program returned";
  }
  ~Mount() {
    unmount(mountPoint_);
    if (child_ > 0) {
      waitFor([this] { return finished(); }, 10s);
      if (!finished()) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, &status_, 0);
      }
    }
  }

  // Empty when mounted; else why not (skip_ set when this host cannot mount at all).
  const std::string& skipReason() const { return skip_; }
  bool ready() const { return ready_; }
  const std::string& error() const { return error_; }
  std::string path(const std::string& relative = "") const {
    return relative.empty() ? mountPoint_ : mountPoint_ + "/" + relative;
  }

  // The foreground process.
  pid_t pid() const { return child_; }
  bool finished() {
    if (exited_) return true;
    if (child_ > 0 && ::waitpid(child_, &status_, WNOHANG) == child_) exited_ = true;
    return exited_;
  }
  int status() const { return status_; }
  std::string errorLog() const {
    std::ifstream in(errorLog_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  void start(const std::vector<std::string>& args) {
    child_ = ::fork();
    if (child_ == 0) {
      const int log = ::open(errorLog_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(log, STDERR_FILENO);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
      // From the environment unless the command line names the password's source.
      if (std::none_of(args.begin(), args.end(), [](const std::string& a) { return a.starts_with("--password-"); })) {
        ::setenv("SORVEL_PASSWORD", kPassword, 1);
      } else {
        ::unsetenv("SORVEL_PASSWORD");
      }
      const std::vector<std::string> command = mountCommand(args);
      std::vector<char*> argv{const_cast<char*>(SORVEL_MOUNT_EXE)};
      for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (!waitFor([this] { return isMounted(mountPoint_) || finished(); }, 20s) || finished()) {
      error_ = errorLog();
      judgeFailure();
    }
  }
  void judgeFailure() {
    if (error_.find("Operation not permitted") != std::string::npos ||
        error_.find("Permission denied") != std::string::npos) {
      skip_ = "mounting is not permitted here (EPERM): mount tests skipped";
    } else if (error_.empty()) {
      error_ = "the mount program failed";
    }
  }

  std::string mountPoint_;
  std::string errorLog_;
  std::string skip_;
  std::string error_;
  bool ready_ = false;
  pid_t child_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

#define MOUNT_OR_SKIP(mount)                                                 \
  do {                                                                       \
    if (!(mount).skipReason().empty()) GTEST_SKIP() << (mount).skipReason(); \
    ASSERT_TRUE((mount).ready()) << (mount).error();                         \
  } while (false)

Bytes readWhole(const std::string& path, int* error = nullptr) {
  Bytes out;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    if (error != nullptr) *error = errno;
    return out;
  }
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && error != nullptr) *error = errno;
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  ::close(fd);
  return out;
}

Bytes readAt(int fd, std::uint64_t offset, std::size_t length) {
  Bytes out(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return out;
}

// A tree with the sizes around block edges, a file whose chain runs through scattered blocks,
// and items that extraction does not write (an item detail file, names with a slash or "..").
struct SampleArchive {
  std::map<std::string, Bytes> files;  // relative path -> content
  ArchiveBuilder builder;
};

SampleArchive sampleArchive(std::uint8_t dataCipher) {
  SampleArchive sample;
  ArchiveBuilder& b = sample.builder;
  b.settings.password = bytesOf(kPassword);
  b.settings.dataCipher = dataCipher;
  auto add = [&](std::u16string_view path, const std::string& relative, std::size_t size,
                 std::uint64_t seed) -> testing::Item& {
    Bytes content = testing::generateContent(testing::seededContent(seed), 0, size);
    sample.files[relative] = content;
    return b.addFile(path, std::move(content));
  };
  add(u"empty.txt", "empty.txt", 0, 1);
  add(u"one.txt", "one.txt", 1, 2).modified = 1700000000;
  add(u"docs\\edge-1.bin", "docs/edge-1.bin", 16383, 3);
  add(u"docs\\edge.bin", "docs/edge.bin", 16384, 4).accessed = 1650000000;
  add(u"docs\\edge+1.bin", "docs/edge+1.bin", 16385, 5);
  add(u"docs\\deep\\er\\big.bin", "docs/deep/er/big.bin", 600000, 6);
  add(u"docs\\read-only.txt", "docs/read-only.txt", 100, 7).attributes = 0x21;
  add(u"scattered.bin", "scattered.bin", 5 * 16384 - 100, 8).blocks = testing::BlockList{300, 250, 251, 252, 200};
  b.addFolder(u"empty folder");
  b.addFile(u"a/b", "slash");
  b.addFile(u"..", "parent");
  testing::DetailFileContents details;
  details.records.push_back({u"one.txt", bytesOf("blob"), {}, {}, {}, {}, {}});
  b.addDetailFile(u"", details);
  return sample;
}

// What a tree holds, per relative path: type, permission bits, size, times and content.
struct Entry {
  bool folder;
  unsigned mode;
  std::uint64_t size;
  std::int64_t modified;
  std::int64_t accessed;
  Bytes content;
};

std::map<std::string, Entry> snapshot(const std::string& root) {
  std::map<std::string, Entry> out;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    EXPECT_EQ(::lstat(item.path().c_str(), &st), 0) << item.path();
    Entry entry{
        S_ISDIR(st.st_mode), st.st_mode & 07777u, S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size),
        st.st_mtim.tv_sec,   st.st_atim.tv_sec,   {}};
    if (!entry.folder) entry.content = readWhole(item.path());
    out[fs::relative(item.path(), root).generic_string()] = std::move(entry);
  }
  return out;
}

std::string extract(const std::string& archive, const std::string& out) {
  const testing::ProcessResult result = testing::runSorvel({archive, out}, std::string(kPassword) + "\n");
  return result.stdoutText + result.stderrText;
}

// The sample archive of one data cipher, written to a fresh folder.
class SampleMount {
 protected:
  void prepare(std::uint8_t dataCipher) {
    sample_ = sampleArchive(dataCipher);
    archive_ = dir_.file("a.sva");
    ASSERT_TRUE(sample_.builder.writeTo(archive_));
  }
  testing::TempDir dir_;
  SampleArchive sample_;
  std::string archive_;
};

class MountCiphers : public ::testing::TestWithParam<std::uint8_t>, protected SampleMount {
 protected:
  void SetUp() override { prepare(GetParam()); }
};

TEST_P(MountCiphers, TreeMatchesAnExtraction) {
  Mount mount(archive_, dir_.file("mnt"), false);
  MOUNT_OR_SKIP(mount);
  const mode_t previousMask = ::umask(022);  // the usual one, which the mount's modes assume
  extract(archive_, dir_.file("out"));
  ::umask(previousMask);
  const auto extracted = snapshot(dir_.file("out"));
  const auto mounted = snapshot(mount.path());
  ASSERT_EQ(extracted.size(), 12u);  // 8 files, 4 folders
  EXPECT_EQ(mounted.size(), extracted.size());
  for (const auto& [path, entry] : extracted) {
    auto it = mounted.find(path);
    if (it == mounted.end()) {
      ADD_FAILURE() << "missing from the mount: " << path;
      continue;
    }
    EXPECT_EQ(it->second.folder, entry.folder) << path;
    EXPECT_EQ(it->second.size, entry.size) << path;
    EXPECT_EQ(it->second.mode, entry.mode) << path;
    // Extraction gives folders no times of their own; the mount shows the archive's.
    EXPECT_EQ(it->second.modified, entry.folder ? 1600000100 : entry.modified) << path;
    EXPECT_EQ(it->second.accessed, entry.folder ? 1600000200 : entry.accessed) << path;
    EXPECT_TRUE(it->second.content == entry.content) << path;
  }
  // The modes extraction gives, the read-only attribute as the lack of write permission.
  EXPECT_EQ(mounted.at("docs/deep/er/big.bin").mode, 0644u);
  EXPECT_EQ(mounted.at("docs/read-only.txt").mode, 0444u);
  EXPECT_EQ(mounted.at("docs").mode, 0755u);
  // Blocks as stored; inode numbers stay.
  struct stat first {
  }, again{};
  ASSERT_EQ(::stat(mount.path("docs/deep/er/big.bin").c_str(), &first), 0);
  EXPECT_EQ(first.st_blocks, (600000 + 16383) / 16384 * 32);
  ASSERT_EQ(::stat(mount.path("docs/deep/er/big.bin").c_str(), &again), 0);
  EXPECT_EQ(first.st_ino, again.st_ino);
  EXPECT_FALSE(fs::exists(mount.path("valdo_item_detail.deposit")));
  // The root, which the archive gives no times, shows the archive file's.
  struct stat root {
  }, archiveFile{};
  ASSERT_EQ(::stat(mount.path("").c_str(), &root), 0);
  ASSERT_EQ(::stat(archive_.c_str(), &archiveFile), 0);
  EXPECT_EQ(root.st_mtim.tv_sec, archiveFile.st_mtim.tv_sec);
}

TEST_P(MountCiphers, ReadsAtRandomOffsetsGiveThePlainData) {
  Mount mount(archive_, dir_.file("mnt"), false, {"--cache-size", "1"});
  MOUNT_OR_SKIP(mount);
  std::mt19937_64 rng(GetParam());
  for (const char* name : {"docs/deep/er/big.bin", "scattered.bin", "docs/edge+1.bin"}) {
    const Bytes& plain = sample_.files[name];
    const int fd = ::open(mount.path(name).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0) << name;
    for (int i = 0; i < 200; ++i) {
      const std::uint64_t offset = rng() % (plain.size() + 100);
      const std::size_t length = 1 + rng() % 40000;
      const Bytes got = readAt(fd, offset, length);
      const std::size_t expected = offset >= plain.size() ? 0 : std::min<std::size_t>(length, plain.size() - offset);
      ASSERT_EQ(got.size(), expected) << name << " at " << offset;
      EXPECT_TRUE(
          std::equal(got.begin(), got.end(),
                     plain.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(offset, plain.size()))))
          << name << " at " << offset << " length " << length;
    }
    ::close(fd);
  }
}

TEST_P(MountCiphers, ConcurrentReadersShareASmallCache) {
  Mount mount(archive_, dir_.file("mnt"), false, {"--cache-size", "1"});
  MOUNT_OR_SKIP(mount);
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (unsigned t = 0; t < 6; ++t) {
    readers.emplace_back([&, t] {
      const char* name = t % 2 == 0 ? "docs/deep/er/big.bin" : "scattered.bin";
      const Bytes& plain = sample_.files.at(name);
      if (t < 2) {  // whole reads, each with a file of its own
        for (int i = 0; i < 5; ++i) wrong += readWhole(mount.path(name)) == plain ? 0 : 1;
        return;
      }
      std::mt19937_64 rng(t);
      const int fd = ::open(mount.path(name).c_str(), O_RDONLY);
      for (int i = 0; i < 300; ++i) {
        const std::uint64_t offset = rng() % plain.size();
        const std::size_t length = std::min<std::size_t>(1 + rng() % 70000, plain.size() - offset);
        const Bytes got = readAt(fd, offset, length);
        wrong += std::equal(got.begin(), got.end(), plain.begin() + static_cast<std::ptrdiff_t>(offset)) &&
                         got.size() == length
                     ? 0
                     : 1;
      }
      ::close(fd);
    });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(DataCiphers, MountCiphers, ::testing::Values(1, 2, 3),
                         [](const ::testing::TestParamInfo<std::uint8_t>& cipher) {
                           return std::string(cipher.param == 1 ? "AesCfb" : cipher.param == 2 ? "Blowfish" : "AesXts");
                         });

class MountBehaviour : public ::testing::Test, protected SampleMount {
 protected:
  void SetUp() override { prepare(1); }
};

TEST_F(MountBehaviour, WritesRenamesAndDeletesFailWithEROFS) {
  Mount mount(archive_, dir_.file("mnt"), false);
  MOUNT_OR_SKIP(mount);
  const std::string file = mount.path("one.txt");
  const std::string folder = mount.path("docs");
  const std::vector<std::pair<const char*, std::function<int()>>> calls = {
      {"open for writing", [&] { return ::open(file.c_str(), O_WRONLY); }},
      {"open for appending", [&] { return ::open(file.c_str(), O_RDWR | O_APPEND); }},
      {"create", [&] { return ::open(mount.path("new.txt").c_str(), O_WRONLY | O_CREAT, 0644); }},
      {"truncate", [&] { return ::truncate(file.c_str(), 0); }},
      {"rename", [&] { return ::rename(file.c_str(), mount.path("two.txt").c_str()); }},
      {"rename folder", [&] { return ::rename(folder.c_str(), mount.path("docs2").c_str()); }},
      {"unlink", [&] { return ::unlink(file.c_str()); }},
      {"rmdir", [&] { return ::rmdir(mount.path("empty folder").c_str()); }},
      {"mkdir", [&] { return ::mkdir(mount.path("made").c_str(), 0755); }},
      {"symlink", [&] { return ::symlink("one.txt", mount.path("link").c_str()); }},
      {"link", [&] { return ::link(file.c_str(), mount.path("hard").c_str()); }},
      {"chmod", [&] { return ::chmod(file.c_str(), 0644); }},
      {"utimes", [&] { return ::utimensat(AT_FDCWD, file.c_str(), nullptr, 0); }},
      {"setxattr", [&] { return ::setxattr(file.c_str(), "user.x", "1", 1, 0); }},
  };
  for (const auto& [what, call] : calls) {
    errno = 0;
    const int result = call();
    EXPECT_EQ(result, -1) << what;
    EXPECT_EQ(errno, EROFS) << what << ": " << std::strerror(errno);
    if (result >= 0 && std::string(what).starts_with("open")) ::close(result);
  }
  EXPECT_EQ(readWhole(file), sample_.files["one.txt"]);
}

// A reader holds a file open and reads on while the file system goes: by a lazy unmount, or by
// Ctrl-C to the foreground program. Neither the reader nor the program may hang.
TEST_F(MountBehaviour, UnmountWhileAReaderIsInside) {
  for (const bool interrupt : {false, true}) {
    SCOPED_TRACE(interrupt ? "interrupted" : "lazily unmounted");
    const std::string point = dir_.file(interrupt ? "mnt-int" : "mnt-lazy");
    Mount mount(archive_, point, true);
    MOUNT_OR_SKIP(mount);
    const Bytes& plain = sample_.files["docs/deep/er/big.bin"];
    const int fd = ::open(mount.path("docs/deep/er/big.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
      std::mt19937_64 rng(5);
      while (!stop) {
        const std::uint64_t offset = rng() % plain.size();
        Bytes got(4096);
        const ssize_t n = ::pread(fd, got.data(), got.size(), static_cast<off_t>(offset));
        if (n < 0) break;  // the connection is gone: an error, never a hang
        wrong += std::equal(got.begin(), got.begin() + n, plain.begin() + static_cast<std::ptrdiff_t>(offset)) ? 0 : 1;
        ++reads;
      }
    });
    ASSERT_TRUE(waitFor([&] { return reads > 20; }, 10s));
    if (interrupt) {
      ::kill(mount.pid(), SIGINT);
    } else {
      testing::ProcessRequest request;
      request.program = "/usr/bin/fusermount3";
      request.args = {"-u", "-z", point};
      EXPECT_EQ(testing::runProcess(request).exitCode, 0);
    }
    EXPECT_TRUE(waitFor([&] { return !isMounted(point); }, 10s));
    std::this_thread::sleep_for(100ms);
    stop = true;
    reader.join();
    ::close(fd);
    EXPECT_EQ(wrong.load(), 0);
    // The program ends once the last reader is gone.
    EXPECT_TRUE(waitFor([&] { return mount.finished(); }, 10s));
    EXPECT_TRUE(WIFEXITED(mount.status()) && WEXITSTATUS(mount.status()) == 0)
        << mount.status() << ", standard error: " << mount.errorLog();
  }
}

// Killed outright, the program leaves no dead mount behind ("Transport endpoint is not
// connected"): the folder is a plain folder again without anyone unmounting it.
TEST_F(MountBehaviour, AKilledMountGoesAway) {
  const std::string point = dir_.file("mnt");
  Mount mount(archive_, point, true);
  MOUNT_OR_SKIP(mount);
  ASSERT_EQ(::kill(mount.pid(), SIGKILL), 0);
  ASSERT_TRUE(waitFor([&] { return mount.finished(); }, 10s));
  EXPECT_TRUE(waitFor([&] { return !isMounted(point); }, 10s));
  struct stat st {};
  EXPECT_EQ(::stat(point.c_str(), &st), 0) << std::strerror(errno);
  std::error_code error;
  EXPECT_TRUE(fs::is_empty(point, error)) << error.message();
}

// The mount table names the file system by the archive's absolute path (a comma in it included)
// and its type as fuse.sorvel; uid=, gid= and umask= shape what every item shows, fsname= names it.
TEST_F(MountBehaviour, TheMountTableNamesTheArchiveAndOptionsSetOwnerAndModes) {
  const std::string archive = dir_.file("with,comma.sva");
  fs::copy_file(archive_, archive);
  {
    Mount mount(archive, dir_.file("mnt"), false);
    MOUNT_OR_SKIP(mount);
    const std::optional<MountEntry> entry = mountEntry(mount.path());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->type, "fuse.sorvel");
    EXPECT_EQ(entry->source, archive);
    struct stat file {};
    ASSERT_EQ(::stat(mount.path("one.txt").c_str(), &file), 0);
    EXPECT_EQ(file.st_uid, ::getuid());
    EXPECT_EQ(file.st_mode & 07777, 0644u);
  }
  Mount mount(archive, dir_.file("mnt2"), false, {"-o", "uid=1234,gid=4321", "-o", "umask=027,fsname=my-archive,ro"});
  MOUNT_OR_SKIP(mount);
  const std::optional<MountEntry> entry = mountEntry(mount.path());
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->source, "my-archive");
  const std::vector<std::pair<std::string, unsigned>> modes = {
      {"", 0750}, {"docs", 0750}, {"one.txt", 0640}, {"docs/read-only.txt", 0440}};
  for (const auto& [path, mode] : modes) {
    struct stat st {};
    ASSERT_EQ(::stat(mount.path(path).c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_uid, 1234u) << path;
    EXPECT_EQ(st.st_gid, 4321u) << path;
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
  }
}

TEST_F(MountBehaviour, ASecondMountOnTheSameFolderIsRefused) {
  Mount mount(archive_, dir_.file("mnt"), false);
  MOUNT_OR_SKIP(mount);
  testing::ProcessRequest request;
  request.program = SORVEL_MOUNT_EXE;
  request.args = mountCommand({archive_, mount.path()});
  request.environment = {std::string("SORVEL_PASSWORD=") + kPassword};
  const testing::ProcessResult second = testing::runProcess(request);
  EXPECT_EQ(second.exitCode, 2);
  EXPECT_EQ(second.stderrText, "sorvel mount: can not mount on " + mount.path() + ": already a mount point\n");
  // One mount there, still serving.
  std::ifstream table("/proc/self/mountinfo");
  std::size_t mounts = 0;
  for (std::string line; std::getline(table, line);) mounts += line.find(" " + mount.path() + " ") != std::string::npos;
  EXPECT_EQ(mounts, 1u);
  EXPECT_EQ(readWhole(mount.path("one.txt")), sample_.files["one.txt"]);
}

// A bind mount of a folder onto itself, for as long as the object lives; `error` says why not.
class BindMount {
 public:
  explicit BindMount(const std::string& folder) : folder_(folder) {
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) error_ = std::strerror(errno);
  }
  ~BindMount() {
    if (error_.empty()) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  const std::string& error() const { return error_; }

 private:
  std::string folder_;
  std::string error_;
};

// Mount points that can not take the mount are refused before the password is asked for (its
// file does not even exist) and before anything is mounted. Needs no FUSE.
TEST(MountPoint, ThoseThatCanNotTakeTheMountAreRefusedFirst) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(sampleArchive(1).builder.writeTo(archive));
  const std::string bound = dir.makeDir("bound folder");  // a blank, as the mount table escapes it
  const BindMount bind(bound);
  struct Case {
    std::string point;
    std::string reason;
  };
  std::vector<Case> cases = {
      {dir.writeFile("a file", "x"), "not a folder"},
      {dir.file("missing"), "No such file or directory"},
      {"/proc", "already a mount point"},  // another file system's root
      {"/", "already a mount point"},
  };
  // Same device as its parent: only the mount table tells.
  if (bind.error().empty()) {
    cases.push_back({bound, "already a mount point"});
  } else {
    std::cout << "no bind mount here (" << bind.error() << "): that case skipped" << std::endl;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    testing::ProcessRequest request;
    request.program = SORVEL_MOUNT_EXE;
    request.args = mountCommand({archive, c.point, "--password-file", dir.file("no-such-password-file")});
    const testing::ProcessResult result = testing::runProcess(request);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.stderrText, "sorvel mount: can not mount on " + c.point + ": " + c.reason + "\n");
  }
}

// -o takes the usual FUSE options, several per -o and several -o; a wrong one is refused by name
// as a usage error. Those taken get as far as the mount point (a file here). Needs no FUSE.
TEST(MountOptions, TheUsualOptionsAreTakenOthersRefusedByName) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(sampleArchive(1).builder.writeTo(archive));
  const std::string file = dir.writeFile("a file", "x");
  const std::string notAFolder = "sorvel mount: can not mount on " + file + ": not a folder\n";
  struct Case {
    std::vector<std::string> options;
    int code;
    std::string message;  // the first line on standard error
  };
  const std::vector<Case> cases = {
      {{"-o", "ro,allow_other,auto_unmount,default_permissions"}, 2, notAFolder},
      {{"-o", "uid=1000,gid=0,umask=0022", "-o", "fsname=my archive"}, 2, notAFolder},
      {{"-o", "ro,,umask=777"}, 2, notAFolder},
      {{"-o", "rw"}, 1, "sorvel mount: unknown mount option: rw\n"},
      {{"-o", "ro,nosuchoption=1"}, 1, "sorvel mount: unknown mount option: nosuchoption=1\n"},
      {{"-o", "uid=abc"}, 1, "sorvel mount: bad value for mount option: uid=abc\n"},
      {{"-o", "gid=-1"}, 1, "sorvel mount: bad value for mount option: gid=-1\n"},
      {{"-o", "uid=4294967295"}, 1, "sorvel mount: bad value for mount option: uid=4294967295\n"},
      {{"-o", "umask=8"}, 1, "sorvel mount: bad value for mount option: umask=8\n"},
      {{"-o", "umask=1000"}, 1, "sorvel mount: bad value for mount option: umask=1000\n"},
      {{"-o", "fsname="}, 1, "sorvel mount: bad value for mount option: fsname=\n"},
      {{"-o", "allow_other=yes"}, 1, "sorvel mount: bad value for mount option: allow_other=yes\n"},
      {{"-o", "uid"}, 1, "sorvel mount: bad value for mount option: uid\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.options));
    std::vector<std::string> args = {archive, file, "--password-file", dir.file("no-such-password-file")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    testing::ProcessRequest request;
    request.program = SORVEL_MOUNT_EXE;
    request.args = mountCommand(args);
    const testing::ProcessResult result = testing::runProcess(request);
    EXPECT_EQ(result.exitCode, c.code);
    EXPECT_EQ(result.stderrText.substr(0, result.stderrText.find('\n') + 1), c.message);
  }
}

// `sorvel help mount` and `sorvel mount --help` give the same text, every -o option in it.
TEST(MountOptions, HelpDocumentsThem) {
  testing::ProcessRequest request;
  request.program = SORVEL_MOUNT_EXE;
  request.args = {"help", "mount"};
  const testing::ProcessResult help = testing::runProcess(request);
  request.args = mountCommand({"--help"});
  const testing::ProcessResult ownHelp = testing::runProcess(request);
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(ownHelp.exitCode, 0);
  EXPECT_EQ(help.stdoutText, ownHelp.stdoutText);
  for (const char* option :
       {"allow_other", "auto_unmount", "default_permissions", "ro", "uid=", "gid=", "umask=", "fsname="}) {
    EXPECT_NE(help.stdoutText.find(option), std::string::npos) << option;
  }
}

// Once the keys are made, the mount holds no copy of the password for as long as it serves,
// whichever source gave it and whichever cipher sealed the key block: only the data cipher's key
// schedule stays. (AES-CFB as the data cipher keys AES with the password itself, its first 32
// bytes, so there the key schedule is the password; those archives are not among these.)
TEST(MountPassword, NoCopyOfThePasswordStaysInMemory) {
  testing::TempDir dir;
  struct Case {
    const char* name;
    std::uint8_t keyBlockCipher;
    std::uint8_t dataCipher;
    const char* source;  // "--password-file", "--password-fd", or nothing for the environment
    std::string password;
  };
  const Case cases[] = {
      {"AES-CFB key block, AES-XTS data, environment", 1, 3, nullptr, kPassword},
      {"Blowfish key block, Blowfish data, file", 2, 2, "--password-file", kPassword},
      {"AES-CFB key block, Blowfish data, descriptor, not ASCII", 1, 2, "--password-fd", "mount-pw-\u00e9\u00fc"},
  };
  int caseNumber = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.source == nullptr && testing::kRuntimeKeepsEnvironment) continue;
    const std::string number = std::to_string(caseNumber++);
    ArchiveBuilder builder;
    builder.settings.password = bytesOf(c.password);
    builder.settings.keyBlockCipher = c.keyBlockCipher;
    builder.settings.dataCipher = c.dataCipher;
    const Bytes content = testing::generateContent(testing::seededContent(3), 0, 100000);
    builder.addFile(u"docs\\a.bin", content);
    const std::string archive = dir.file("a" + number + ".sva");
    ASSERT_TRUE(builder.writeTo(archive));
    const std::string passwordFile = dir.writeFile("pw" + number, c.password + "\n");
    const int passwordFd = ::open(passwordFile.c_str(), O_RDONLY);  // inherited by the mount
    ASSERT_GE(passwordFd, 0);
    std::vector<std::string> source;
    if (c.source != nullptr) {
      source = {c.source, std::string_view(c.source) == "--password-fd" ? std::to_string(passwordFd) : passwordFile};
    }
    Mount mount(archive, dir.file("mnt" + number), true, source);
    ::close(passwordFd);
    MOUNT_OR_SKIP(mount);
    // The worker threads have decrypted blocks by now.
    ASSERT_EQ(readWhole(mount.path("docs/a.bin")), content);
    std::size_t regions = 0;
    const std::vector<std::string> copies = testing::findInProcessMemory(mount.pid(), c.password, &regions);
    ASSERT_GT(regions, 0u) << "the mount's memory could not be read";
    EXPECT_TRUE(copies.empty()) << ::testing::PrintToString(copies);
  }
}

// A source that gives no password is refused before anything is mounted, with what went wrong;
// so is a wrong password, found by the process that would have served (no -f): the command ends
// with its code and message.
TEST(MountPassword, SourcesThatGiveNoPasswordOrAWrongOneAreRefused) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(kPassword);
  builder.addFile(u"one.txt", "one");
  ASSERT_TRUE(builder.writeTo(archive));
  const std::string folder = dir.makeDir("folder");
  const std::string empty = dir.writeFile("empty", "");
  const std::string point = dir.makeDir("mnt");
  struct Case {
    std::vector<std::string> options;
    int exitCode;
    std::string error;  // the start of standard error
  };
  const Case cases[] = {
      {{"--password-file", empty, "--password-fd", "0"},
       1,
       "sorvel mount: --password-file and --password-fd exclude each other\n"},
      {{"--password-file", folder}, 2, "sorvel mount: can not read password file " + folder + ": Is a directory\n"},
      {{"--password-file", empty}, 2, "sorvel mount: no password given\n"},
      {{"--password-file", dir.writeFile("wrong", "not-the-password\n")}, 9, "Error: incorrect password!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    testing::ProcessRequest request;
    request.program = SORVEL_MOUNT_EXE;
    request.args = mountCommand({archive, point});
    request.args.insert(request.args.end(), c.options.begin(), c.options.end());
    const testing::ProcessResult result = testing::runProcess(request);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.stderrText.starts_with(c.error)) << result.stderrText;
    EXPECT_FALSE(isMounted(point));
    unmount(point);
  }
}

// A file whose chain is shorter than its size: its stored bytes read as extraction writes them,
// then EIO, reported once on standard error; never zeros in place of the missing content.
TEST(MountDamage, ADamagedFileReadsItsStoredBytesThenFailsWithEIO) {
  testing::TempDir dir;
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(kPassword);
  const Bytes content = testing::generateContent(testing::seededContent(9), 0, 40000);
  builder.addFile(u"short.bin", content).storedSize = 100000;
  builder.addFile(u"fine.txt", "fine");
  const std::string archive = dir.file("d.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  extract(archive, dir.file("out"));
  const Bytes extracted = readWhole(dir.file("out/short.bin"));

  Mount mount(archive, dir.file("mnt"), true);
  MOUNT_OR_SKIP(mount);
  struct stat st {};
  ASSERT_EQ(::stat(mount.path("short.bin").c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), extracted.size());
  for (int round = 0; round < 2; ++round) {
    int error = 0;
    const Bytes got = readWhole(mount.path("short.bin"), &error);
    EXPECT_EQ(error, EIO);
    ASSERT_EQ(got.size(), 3 * 16384u);  // the three blocks the chain holds
    EXPECT_TRUE(std::equal(got.begin(), got.end(), extracted.begin()));
    EXPECT_TRUE(std::equal(content.begin(), content.end(), got.begin()));
  }
  const int fd = ::open(mount.path("short.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::uint8_t byte = 0;
  errno = 0;
  EXPECT_EQ(::pread(fd, &byte, 1, 70000), -1);
  EXPECT_EQ(errno, EIO);
  ::close(fd);
  EXPECT_EQ(readWhole(mount.path("fine.txt")), bytesOf("fine"));
  unmount(mount.path());
  ASSERT_TRUE(waitFor([&] { return mount.finished(); }, 10s));
  EXPECT_EQ(mount.errorLog(), "Error: damaged item: short.bin\n");
}

// In a mount namespace of its own, with a /dev of its own whose log socket it reads, the child
// mounts `archive` detached, reads `file` through the mount twice and unmounts it. What reached the
// system log goes to `report`, one message a line; a host where this cannot be set up says
// "skip: why" instead. Only system calls after the fork: the child ends with _exit.
[[noreturn]] void logDetachedReads(const std::string& archive, const std::string& mountPoint, const std::string& file,
                                   int report) {
  auto finish = [&](const std::string& text) {
    if (!text.empty()) [[maybe_unused]]
      const ssize_t written = ::write(report, text.data(), text.size());
    ::_exit(0);
  };
  auto skip = [&](const char* what) { finish(std::string("skip: ") + what + ": " + std::strerror(errno)); };
  if (::unshare(CLONE_NEWNS) != 0) skip("unshare");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) skip("private mounts");
  if (::mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) skip("a /dev of its own");
  const std::pair<const char*, dev_t> devices[] = {{"/dev/fuse", ::makedev(10, 229)},
                                                   {"/dev/null", ::makedev(1, 3)},
                                                   {"/dev/zero", ::makedev(1, 5)},
                                                   {"/dev/random", ::makedev(1, 8)},
                                                   {"/dev/urandom", ::makedev(1, 9)}};
  for (const auto& [path, device] : devices) {
    if (::mknod(path, S_IFCHR | 0666, device) != 0) skip("device nodes");
  }
  const int log = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "/dev/log");
  if (log < 0 || ::bind(log, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) skip("log socket");

  const pid_t mounter = ::fork();
  if (mounter == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::setenv("SORVEL_PASSWORD", kPassword, 1);
    const std::vector<std::string> command = mountCommand({archive, mountPoint});
    std::vector<char*> argv{const_cast<char*>(SORVEL_MOUNT_EXE)};
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (mounter < 0 || ::waitpid(mounter, &status, 0) != mounter || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    finish("mount failed: status " + std::to_string(status));
  }
  for (int round = 0; round < 2; ++round) {
    const int fd = ::open((mountPoint + "/" + file).c_str(), O_RDONLY);
    char buffer[65536];
    while (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) {
    }
    if (fd >= 0) ::close(fd);
  }
  ::umount2(mountPoint.c_str(), MNT_DETACH);  // the detached program ends with its connection
  const timeval wait{1, 0};
  ::setsockopt(log, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  std::string messages;
  char message[4096];
  for (ssize_t n; (n = ::recv(log, message, sizeof message, 0)) > 0;) messages.append(message, n).push_back('\n');
  finish(messages);
  ::_exit(0);  // finish ends the process already
}

// A mount started without -f has no standard error left once detached: a damaged item read
// through it is told to the system log, once, with the line the tool prints for it.
TEST(MountDamage, ADetachedMountLogsADamagedItemOnce) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no usable /dev/fuse here: mount tests skipped";
  testing::TempDir dir;
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(kPassword);
  builder.addFile(u"short.bin", testing::generateContent(testing::seededContent(9), 0, 40000)).storedSize = 100000;
  builder.addFile(u"fine.txt", "fine");
  const std::string archive = dir.file("d.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  const std::string mountPoint = dir.makeDir("mnt");

  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    logDetachedReads(archive, mountPoint, "short.bin", report[1]);
  }
  ::close(report[1]);
  std::string told;
  char buffer[4096];
  for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) told.append(buffer, n);
  ::close(report[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (told.starts_with("skip: ")) GTEST_SKIP() << told;
  ASSERT_FALSE(told.starts_with("mount failed")) << told;
  std::vector<std::string> lines;
  std::istringstream messages(told);
  for (std::string line; std::getline(messages, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u) << told;
  EXPECT_NE(lines[0].find(" sorvel["), std::string::npos) << lines[0];
  EXPECT_TRUE(lines[0].ends_with("]: Error: damaged item: short.bin")) << lines[0];
  EXPECT_TRUE(lines[0].starts_with("<11>")) << lines[0];  // user.err
}

// The mount shows what extraction writes, under the same names, and tells what extraction
// leaves out with the same lines before it starts.
TEST(MountDamage, ShowsWhatExtractionWritesAndTellsWhatItLeavesOut) {
  testing::TempDir dir;
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(kPassword);
  builder.addFile(u"ok", "fine");
  builder.addFile(u"i", "inner").storedName = u"nodir\\inner";
  builder.addFile(u"e", "escape").storedName = u"..\\..\\esc";
  builder.addFile(u"s1", "first").storedName = std::u16string(u"a") + char16_t(0xD800) + u".txt";
  builder.addFile(u"s2", "second").storedName = std::u16string(u"a") + char16_t(0xDC00) + u".txt";
  builder.addFile(u"long\\in.txt", "below a long name");
  builder.addFolder(u"long").storedName = std::u16string(300, u'n');
  const std::string archive = dir.file("names.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  // The mount is part of the tool: its lines are the tool's ("/" between names).
  const testing::ProcessResult extracted =
      testing::runTool({"extract", "-C", dir.file("out"), archive}, {"SORVEL_PASSWORD=" + std::string(kPassword)});
  std::vector<std::string> lines = extracted.stderrLines();
  ASSERT_FALSE(lines.empty());
  lines.pop_back();  // the closing line
  ASSERT_EQ(lines.size(), 5u) << extracted.stderrText;

  Mount mount(archive, dir.file("mnt"), false);
  MOUNT_OR_SKIP(mount);
  std::vector<std::string> told;
  std::istringstream error(mount.error());
  for (std::string line; std::getline(error, line);) told.push_back(line);
  EXPECT_EQ(told, lines);
  EXPECT_EQ(testing::listTree(mount.path()), testing::listTree(dir.file("out")));
}

// A chain that runs into an earlier file's blocks ends there, as in extraction: no two files
// ever show the same block.
TEST(MountDamage, AChainRunningIntoAnEarlierFilesBlocksEndsThere) {
  testing::TempDir dir;
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(kPassword);
  const Bytes a = testing::generateContent(testing::seededContent(10), 0, 3 * 16384);
  const Bytes b = testing::generateContent(testing::seededContent(11), 0, 3 * 16384);
  builder.addFile(u"a.bin", a).blocks = testing::BlockList{3, 4, 5};
  builder.addFile(u"b.bin", b).blocks = testing::BlockList{6, 7, 8};
  builder.settings.chainOverrides[6] = 4;  // b.bin: 6, then a.bin's second block
  const std::string archive = dir.file("o.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  const std::string report = extract(archive, dir.file("out"));
  ASSERT_NE(report.find("Error: damaged item: \\b.bin"), std::string::npos) << report;

  Mount mount(archive, dir.file("mnt"), false);
  MOUNT_OR_SKIP(mount);
  EXPECT_EQ(readWhole(mount.path("a.bin")), a);
  int error = 0;
  const Bytes got = readWhole(mount.path("b.bin"), &error);
  EXPECT_EQ(error, EIO);
  EXPECT_TRUE(got == Bytes(b.begin(), b.begin() + 16384));
  EXPECT_EQ(fs::file_size(mount.path("b.bin")), fs::file_size(dir.file("out/b.bin")));
}

// Damaged archives of the damage property test's kinds, and the hostile shapes: mounted, walked
// and read whole with a time limit; the program must neither hang nor crash.
TEST(MountDamage, DamagedAndHostileArchivesWalkWithoutHangingOrCrashing) {
  testing::TempDir dir;
  if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no usable /dev/fuse here: mount tests skipped";
  struct Case {
    std::string name;
    Bytes bytes;
    std::string password;
  };
  std::vector<Case> archives;
  const std::vector<testing::BaseArchive> bases = testing::damageBases();
  ASSERT_FALSE(bases.empty());
  for (std::uint64_t index = 0; index < 24; ++index) {
    std::mt19937_64 rng(0x5EED + index);
    const testing::BaseArchive& base = bases[testing::pick(rng, bases.size())];
    testing::DamagedArchive damaged = testing::damage(rng, base);
    archives.push_back({damaged.description, std::move(damaged.bytes), base.password});
  }
  for (testing::HostileShape& shape : testing::hostileShapes(4096)) {
    archives.push_back({shape.name, shape.builder.build(), "hostile"});
  }

  std::size_t walkedCount = 0;
  for (std::size_t i = 0; i < archives.size(); ++i) {
    SCOPED_TRACE(archives[i].name);
    const std::string archive = dir.file("case" + std::to_string(i) + ".sva");
    {
      std::ofstream out(archive, std::ios::binary);
      out.write(reinterpret_cast<const char*>(archives[i].bytes.data()),
                static_cast<std::streamsize>(archives[i].bytes.size()));
    }
    testing::ProcessRequest request;
    request.program = SORVEL_MOUNT_EXE;
    const std::string point = dir.file("mnt" + std::to_string(i));
    fs::create_directories(point);
    request.args = mountCommand({archive, point, "--password-file", dir.writeFile("pw", archives[i].password + "\n")});
    request.timeout = 60s;
    const testing::ProcessResult mounted = testing::runProcess(request);
    ASSERT_TRUE(mounted.exited) << "signal " << mounted.signal << (mounted.timedOut ? " (timed out)" : "");
    if (mounted.exitCode != 0) {
      // Refused archives end with the extractor's codes; a password that does not fit is one.
      EXPECT_TRUE(std::set<int>({6, 7, 8, 9, 10}).contains(mounted.exitCode)) << mounted.exitCode << mounted.stderrText;
      continue;
    }
    testing::ProcessRequest walk;
    walk.program = "/bin/sh";
    walk.args = {"-c", "find \"$0\" -type f -exec cat {} + > /dev/null 2>&1; find \"$0\" | wc -l", point};
    walk.timeout = 60s;
    const testing::ProcessResult walked = testing::runProcess(walk);
    EXPECT_FALSE(walked.timedOut);
    // Still serving after the walk: the program has not crashed.
    EXPECT_TRUE(isMounted(point));
    struct stat st {};
    EXPECT_EQ(::stat(point.c_str(), &st), 0) << std::strerror(errno);
    unmount(point);
    ++walkedCount;
  }
  // Most damage leaves an archive that opens: the walk must have had work to do.
  EXPECT_GE(walkedCount, archives.size() / 2);
  std::cout << walkedCount << " of " << archives.size() << " archives mounted and walked" << std::endl;
}

}  // namespace
}  // namespace sorvel
