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
#include "support/HostileArchives.h"
#include "support/ProcessRunner.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveBuilder;
using testing::bytesOf;

constexpr std::uint64_t kDefaultCases = 3000;
constexpr std::uint64_t kDefaultSeed = 20261210;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
const std::set<int> kAllowedExitCodes = {0, 6, 7, 8, 9, 10, 11};

struct Range {
  std::uint64_t begin;
  std::uint64_t end;  // exclusive
};

// The parts of an archive file that damage is aimed at.
enum Part { kHeader, kKeyBlock, kChainTable, kDirectories, kDetailFiles, kContent, kPartCount };
constexpr const char* kPartNames[kPartCount] = {"header", "key block", "chain table", "directories", "detail files",
                                                "content"};

struct BaseArchive {
  std::string name;
  std::string password;
  Bytes bytes;
  std::vector<Range> parts[kPartCount];
  std::set<std::string> itemPaths;  // relative output paths of everything the builder added
  std::uint32_t chainEntryCount = 0;
  std::vector<std::uint64_t> itemEntries;  // file offsets of the item entries, when stored plain
};

struct CipherCombination {
  const char* name;
  const char* password;
  std::uint8_t keyBlockCipher;
  std::uint8_t dataCipher;
};

constexpr CipherCombination kCombinations[] = {
    {"none/cfb", "", 1, 1},          {"none/blowfish", "", 1, 2},     {"none/xts", "", 1, 3},
    {"cfb/cfb", "pw", 1, 1},         {"cfb/blowfish", "pw", 1, 2},    {"cfb/xts", "pw", 1, 3},
    {"blowfish/cfb", "pw", 2, 1},    {"blowfish/blowfish", "pw", 2, 2}, {"blowfish/xts", "pw", 2, 3},
};

std::string outputRelative(std::u16string_view pathInArchive) {
  while (!pathInArchive.empty() && pathInArchive.front() == u'\\') pathInArchive.remove_prefix(1);
  std::string path = toUtf8Lossy(pathInArchive);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::optional<BaseArchive> makeBase(const CipherCombination& combination) {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(combination.password);
  builder.settings.keyBlockCipher = combination.keyBlockCipher;
  builder.settings.dataCipher = combination.dataCipher;
  builder.addFile(u"readme.txt", "hello");
  builder.addFile(u"docs\\report.bin", testing::generateContent(testing::seededContent(7), 0, 40000));
  builder.addFile(u"docs\\empty.txt");
  builder.addFile(u"docs\\drafts\\note.txt", "read only").attributes = 0x21;
  builder.addFolder(u"docs\\drafts\\old");
  builder.addFile(u"Photos\\a.jpg", testing::generateContent(testing::seededContent(8), 0, 3000));
  testing::DetailFileContents rootDetails;
  rootDetails.records.push_back({u"readme.txt", bytesOf("blob"), {}, {}, {}, {}, {}});
  rootDetails.records.push_back({u"docs", {}, bytesOf("second"), {}, {}, {}, {}});
  builder.addDetailFile(u"", rootDetails);
  testing::DetailFileContents docsDetails;
  docsDetails.records.push_back({u"report.bin", bytesOf("x"), bytesOf("y"), {}, {}, {}, {}});
  builder.addDetailFile(u"docs", docsDetails);

  const std::optional<testing::ArchiveLayout> layout = builder.layout();
  if (!layout) return std::nullopt;
  BaseArchive base;
  base.name = combination.name;
  base.password = combination.password;
  base.bytes = builder.build();
  base.parts[kHeader].push_back({0, 768});
  base.parts[kKeyBlock].push_back({768, 1024});
  base.parts[kChainTable].push_back({1024, layout->dataStart});
  auto addBlocks = [&](Part part, const testing::BlockList& blocks) {
    for (std::uint32_t block : blocks) {
      const std::uint64_t at = layout->blockOffset(block);
      base.parts[part].push_back({at, at + testing::disk::kBlockSize});
    }
  };
  addBlocks(kDirectories, layout->root.blocks);
  for (std::size_t i = 0; i < layout->items.size(); ++i) {
    const testing::Item& item = builder.items()[i];
    const bool detail = !item.isFolder && item.path.ends_with(testing::disk::kDetailFileName);
    addBlocks(item.isFolder ? kDirectories : detail ? kDetailFiles : kContent, layout->items[i].blocks);
    base.itemPaths.insert(outputRelative(item.path));
    if (base.password.empty()) {
      if (const auto offset = layout->itemEntryFileOffset(item.path)) base.itemEntries.push_back(*offset);
    }
  }
  base.chainEntryCount = layout->chainEntryCount;
  for (const auto& ranges : base.parts) {
    if (ranges.empty()) return std::nullopt;
  }
  return base;
}

// One case: which archive, and the damage done to it.
struct Damage {
  Bytes bytes;
  std::string description;
};

std::uint64_t pick(std::mt19937_64& rng, std::uint64_t below) {
  return below == 0 ? 0 : std::uniform_int_distribution<std::uint64_t>(0, below - 1)(rng);
}

std::uint64_t offsetIn(std::mt19937_64& rng, const std::vector<Range>& ranges) {
  const Range& range = ranges[pick(rng, ranges.size())];
  return range.begin + pick(rng, range.end - range.begin);
}

// How often each kind of damage is chosen: the parts that steer the reader (chain table,
// directories, detail files) more than content, whose damage changes only bytes written.
constexpr std::uint64_t kKindWeights[kPartCount + 4] = {1, 1, 3, 4, 2, 1, /*cut*/ 2, /*extend*/ 1, /*anywhere*/ 1,
                                                        /*structure*/ 3};

void storeLittleEndian(Bytes& bytes, std::uint64_t at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Values a reader must be ready for, where a random byte would rarely land: block numbers that
// loop, end, free or leave the table, and sizes far beyond anything stored.
void damageStructure(std::mt19937_64& rng, const BaseArchive& base, Bytes& bytes, std::string& description) {
  const std::uint64_t count = base.chainEntryCount;
  const std::uint64_t blockChoices[] = {0, 1, pick(rng, count), count, count + pick(rng, 4), 0xFFFFFFFF};
  const std::uint64_t block = blockChoices[pick(rng, std::size(blockChoices))];
  if (base.itemEntries.empty() || pick(rng, 3) == 0) {
    const std::uint64_t entry = pick(rng, count);
    storeLittleEndian(bytes, 1024 + 4 * entry, pick(rng, 4) == 0 ? entry : block, 4);
    description += "chain entry " + std::to_string(entry) + " set";
    return;
  }
  const std::uint64_t at = base.itemEntries[pick(rng, base.itemEntries.size())];
  if (at + 48 > bytes.size()) return;
  switch (pick(rng, 3)) {
    case 0:
      bytes[at + 1] ^= 0x10;
      description += "folder bit toggled at " + std::to_string(at);
      break;
    case 1:
      storeLittleEndian(bytes, at + 34, block & 0xFFFF, 2);
      storeLittleEndian(bytes, at + 36, block >> 16, 2);
      description += "first block " + std::to_string(block) + " at " + std::to_string(at);
      break;
    default: {
      const std::uint64_t sizes[] = {1, 16384, 1ull << 32, 1ull << 40, 1ull << 60, 1ull << 63, ~0ull, rng()};
      const std::uint64_t size = sizes[pick(rng, std::size(sizes))];
      storeLittleEndian(bytes, at + 2, size, 8);
      description += "size " + std::to_string(size) + " at " + std::to_string(at);
    }
  }
}

void damageOnce(std::mt19937_64& rng, const BaseArchive& base, Bytes& bytes, std::string& description) {
  std::discrete_distribution<std::uint64_t> kinds(std::begin(kKindWeights), std::end(kKindWeights));
  const std::uint64_t kind = kinds(rng);
  if (kind == kPartCount + 3) {
    damageStructure(rng, base, bytes, description);
  } else if (kind < kPartCount || kind == kPartCount + 2) {
    // Flipped bytes in one part, or anywhere.
    const bool anywhere = kind == kPartCount + 2;
    const std::uint64_t flips = 1 + pick(rng, 8);
    description += anywhere ? "flips anywhere:" : std::string("flips in ") + kPartNames[kind] + ":";
    for (std::uint64_t i = 0; i < flips && !bytes.empty(); ++i) {
      std::uint64_t at = anywhere ? pick(rng, bytes.size()) : offsetIn(rng, base.parts[kind]);
      if (at >= bytes.size()) continue;
      const auto value = static_cast<std::uint8_t>(pick(rng, 256));
      switch (pick(rng, 4)) {
        case 0: bytes[at] ^= static_cast<std::uint8_t>(1u << pick(rng, 8)); break;
        case 1: bytes[at] = value; break;
        case 2: bytes[at] = pick(rng, 2) == 0 ? 0x00 : 0xFF; break;
        default:  // a whole little-endian word: block numbers, counts and sizes
          for (std::uint64_t k = 0; k < 4 && at + k < bytes.size(); ++k) bytes[at + k] = static_cast<std::uint8_t>(pick(rng, 256));
      }
      description += " " + std::to_string(at);
    }
  } else if (kind == kPartCount) {
    const std::uint64_t size = pick(rng, 2) == 0 ? pick(rng, 1024 + 4 * 64) : pick(rng, bytes.size());
    bytes.resize(std::min<std::uint64_t>(size, bytes.size()));
    description += "cut to " + std::to_string(bytes.size());
  } else {
    const std::uint64_t more = 1 + pick(rng, 40000);
    const bool zeros = pick(rng, 2) == 0;
    for (std::uint64_t i = 0; i < more; ++i) bytes.push_back(zeros ? 0 : static_cast<std::uint8_t>(pick(rng, 256)));
    description += "extended by " + std::to_string(more) + (zeros ? " zeros" : " random bytes");
  }
}

Damage damage(std::mt19937_64& rng, const BaseArchive& base) {
  Damage result{base.bytes, base.name + ", "};
  const std::uint64_t steps = 1 + (pick(rng, 4) == 0 ? pick(rng, 3) : 0);
  for (std::uint64_t i = 0; i < steps; ++i) {
    if (i > 0) result.description += "; ";
    damageOnce(rng, base, result.bytes, result.description);
  }
  return result;
}

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
    if (entry.path() != archive && entry.path() != out) return "created beside the output folder: " + entry.path().string();
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
  std::vector<BaseArchive> bases;
  for (const CipherCombination& combination : kCombinations) {
    std::optional<BaseArchive> base = makeBase(combination);
    ASSERT_TRUE(base) << combination.name;
    bases.push_back(std::move(*base));
  }
  const std::uint64_t seed = environmentNumber("SORVEL_PROPERTY_SEED", kDefaultSeed);
  const std::uint64_t cases = environmentNumber("SORVEL_PROPERTY_CASES", kDefaultCases);
  const char* only = std::getenv("SORVEL_PROPERTY_CASE");
  const std::uint64_t first = only != nullptr ? std::strtoull(only, nullptr, 10) : 0;
  const std::uint64_t end = only != nullptr ? first + 1 : cases;
  std::cout << "damaged archives: SORVEL_PROPERTY_SEED=" << seed << ", cases " << first << " to " << end - 1 << std::endl;

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
      const Damage damaged = damage(rng, base);
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
