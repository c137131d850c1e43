// Damaged archives through the real program. Sound archives of every cipher combination get
// seeded random damage (flipped bytes in each part of the file, cuts, extensions); the program
// runs on each into a fresh folder under a time limit and must end with one of its own exit
// codes, never by a signal or the limit, write nothing beside its output folder, and write only
// items the archive names.
//
// Every run uses the same seed unless SORVEL_PROPERTY_SEED=S picks another (the seed is printed
// by every run and every failure); SORVEL_PROPERTY_CASE=C runs only case C of it, and
// SORVEL_PROPERTY_CASES=N sets the number of cases (ctest sets a few hundred; scripts/test runs
// the full default count as a stage of its own).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive/Archive.h"
#include "platform/Utf16.h"
#include "support/ArchiveBuilder.h"
#include "support/DamagedArchives.h"
#include "support/HostileArchives.h"
#include "support/ProcessRunner.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::BaseArchive;
using testing::bytesOf;
using testing::outputRelative;
using testing::pick;
using Damage = testing::DamagedArchive;

constexpr std::uint64_t kDefaultCases = 3000;
constexpr std::uint64_t kDefaultSeed = 20261210;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
const std::set<int> kAllowedExitCodes = {0, 6, 7, 8, 9, 10, 11};

// What the reader itself lists in the damaged archive, as relative output paths.
std::set<std::string> listedPaths(const std::string& archivePath, const std::string& password) {
  std::set<std::string> paths;
  Archive archive;
  if (!archive.checkPassword(archivePath, bytesOf(password)) || !archive.open(archivePath)) return paths;
  std::vector<std::u16string> listed;
  std::vector<DetailRecordRef> details;
  archive.listItems(kRootPath, listed, details);
  for (const std::u16string& path : listed) paths.insert(outputRelative(path));
  return paths;
}

// Runs one case in `folder`; an empty answer when every property holds. `exitCode` gets the
// program's exit code (-1 when it did not exit).
std::string runCase(const BaseArchive& base, const Damage& damaged, const fs::path& folder, int& exitCode) {
  fs::create_directories(folder);
  const fs::path archive = folder / "archive.sva";
  const fs::path out = folder / "out";
  {
    std::ofstream file(archive, std::ios::binary);
    file.write(reinterpret_cast<const char*>(damaged.bytes.data()), static_cast<std::streamsize>(damaged.bytes.size()));
  }
  testing::ProcessRequest request;
  request.args = {archive.string(), out.string()};
  request.stdinBytes = base.password + "\n";
  request.workingDirectory = folder.string();
  request.timeout = std::chrono::seconds(20);
  const testing::ProcessResult result = testing::runProcess(request);
  exitCode = result.exited ? result.exitCode : -1;

  if (!result.started) return "the program did not start";
  if (result.timedOut) return "the program ran past the time limit";
  if (!result.exited) return "the program ended by signal " + std::to_string(result.signal);
  if (!kAllowedExitCodes.contains(result.exitCode)) {
    return "exit code " + std::to_string(result.exitCode) + ", stderr: " + result.stderrText.substr(0, 2000);
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path() != archive && entry.path() != out)
      return "created beside the output folder: " + entry.path().string();
  }
  if (!fs::exists(out)) return {};
  std::set<std::string> allowed = base.itemPaths;
  allowed.merge(listedPaths(archive.string(), base.password));
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(out)) {
    const std::string relative = fs::relative(entry.path(), out).generic_string();
    if (!allowed.contains(relative)) return "wrote an item the archive does not name: " + relative;
  }
  return {};
}

std::uint64_t environmentNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text == nullptr || *text == '\0' ? fallback : std::strtoull(text, nullptr, 10);
}

TEST(DamagedArchives, EndWithAnExitCodeAndWriteOnlyNamedItemsInsideTheOutputFolder) {
  const std::vector<BaseArchive> bases = testing::damageBases();
  ASSERT_EQ(bases.size(), testing::kDamageBaseCount);
  const std::uint64_t seed = environmentNumber("SORVEL_PROPERTY_SEED", kDefaultSeed);
  const std::uint64_t cases = environmentNumber("SORVEL_PROPERTY_CASES", kDefaultCases);
  const char* only = std::getenv("SORVEL_PROPERTY_CASE");
  const std::uint64_t first = only != nullptr ? std::strtoull(only, nullptr, 10) : 0;
  const std::uint64_t end = only != nullptr ? first + 1 : cases;
  std::cout << "damaged archives: SORVEL_PROPERTY_SEED=" << seed << ", cases " << first << " to " << end - 1
            << std::endl;

  testing::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::atomic<std::uint64_t> next{first};
  std::mutex failuresLock;
  std::vector<std::string> failures;
  std::map<int, std::uint64_t> exitCodes;
  auto work = [&](unsigned worker) {
    const fs::path folder = fs::path(dir.path()) / ("worker" + std::to_string(worker));
    for (std::uint64_t index = next++; index < end; index = next++) {
      std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ULL + index);
      const BaseArchive& base = bases[pick(rng, bases.size())];
      const Damage damaged = testing::damage(rng, base);
      int exitCode = -1;
      const std::string problem = runCase(base, damaged, folder, exitCode);
      std::lock_guard<std::mutex> lock(failuresLock);
      ++exitCodes[exitCode];
      if (!problem.empty()) {
        failures.push_back("SORVEL_PROPERTY_SEED=" + std::to_string(seed) + " SORVEL_PROPERTY_CASE=" +
                           std::to_string(index) + " (" + damaged.description + "): " + problem);
      }
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
  };
  std::vector<std::thread> workers;
  const unsigned workerCount = std::max(2u, std::thread::hardware_concurrency() + 1);
  for (unsigned w = 0; w < workerCount; ++w) workers.emplace_back(work, w);
  for (std::thread& worker : workers) worker.join();
  // How the cases ended, to judge that the damage reaches every stage of a run.
  std::cout << "exit codes:";
  for (const auto& [code, count] : exitCodes) std::cout << " " << code << " x" << count;
  std::cout << std::endl;

  for (std::size_t i = 0; i < std::min<std::size_t>(failures.size(), 20); ++i) ADD_FAILURE() << failures[i];
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << end - first << " cases failed";
}

// Archives whose chains claim far more than they store: the work of a run is bounded by what
// the archive holds. Memory is held to a limit that grows with the archive's size (RLIMIT_AS),
// time to a generous limit, and the bytes written to what the archive stores plus the zero
// tails of the items reported damaged, none longer than the archive.
TEST(HostileArchives, WorkStaysWithinWhatTheArchiveStores) {
  constexpr std::uint32_t kChainEntries = 65536;
  testing::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (testing::HostileShape& shape : testing::hostileShapes(kChainEntries)) {
    SCOPED_TRACE(shape.name);
    const fs::path archive = fs::path(dir.path()) / (shape.name + ".sva");
    const fs::path out = fs::path(dir.path()) / (shape.name + "-out");
    ASSERT_TRUE(shape.builder.writeTo(archive));
    const std::uint64_t archiveSize = fs::file_size(archive);

    testing::ProcessRequest request;
    request.args = {archive.string(), out.string()};
    request.stdinBytes = "hostile\n";
    request.workingDirectory = dir.path();
    request.timeout = std::chrono::seconds(120);
    // AddressSanitizer reserves terabytes of shadow address space: there, only the other limits.
    request.addressSpaceLimit = kAddressSanitizer ? 0 : (std::uint64_t{256} << 20) + 16 * archiveSize;
    request.fileSizeLimit = archiveSize;  // no single file may be larger than its archive
    const testing::ProcessResult result = testing::runProcess(request);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    ASSERT_TRUE(result.exited) << "signal " << result.signal;
    EXPECT_TRUE(kAllowedExitCodes.contains(result.exitCode)) << result.exitCode;

    std::uint64_t damaged = 0;
    for (const std::string& line : result.stderrLines()) damaged += line.starts_with("Error: damaged item: ") ? 1 : 0;
    std::uint64_t apparent = 0;
    std::uint64_t stored = 0;
    std::uint64_t files = 0;
    if (fs::exists(out)) {
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(out)) {
        struct stat st {};
        ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
        if (!S_ISREG(st.st_mode)) continue;
        ++files;
        apparent += static_cast<std::uint64_t>(st.st_size);
        stored += static_cast<std::uint64_t>(st.st_blocks) * 512;
      }
    }
    EXPECT_LE(apparent, archiveSize * (1 + damaged));
    EXPECT_LE(stored, archiveSize + 4096 * files);  // bytes really written, block rounding aside
    fs::remove_all(out);
  }
}

}  // namespace
}  // namespace sorvel
