#include "support/DamagedArchives.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "platform/Utf16.h"
#include "support/ArchiveBuilder.h"

namespace sorvel::testing {
namespace {

constexpr const char* kPartNames[kPartCount] = {"header",      "key block",    "chain table",
                                                "directories", "detail files", "content"};

struct CipherCombination {
  const char* name;
  const char* password;
  std::uint8_t keyBlockCipher;
  std::uint8_t dataCipher;
};

constexpr CipherCombination kCombinations[] = {
    {"none/cfb", "", 1, 1},       {"none/blowfish", "", 1, 2},       {"none/xts", "", 1, 3},
    {"cfb/cfb", "pw", 1, 1},      {"cfb/blowfish", "pw", 1, 2},      {"cfb/xts", "pw", 1, 3},
    {"blowfish/cfb", "pw", 2, 1}, {"blowfish/blowfish", "pw", 2, 2}, {"blowfish/xts", "pw", 2, 3},
};

}  // namespace

std::string outputRelative(std::u16string_view pathInArchive) {
  while (!pathInArchive.empty() && pathInArchive.front() == u'\\') pathInArchive.remove_prefix(1);
  std::string path = toUtf8Lossy(pathInArchive);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

namespace {

std::optional<BaseArchive> makeBase(const CipherCombination& combination) {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf(combination.password);
  builder.settings.keyBlockCipher = combination.keyBlockCipher;
  builder.settings.dataCipher = combination.dataCipher;
  builder.addFile(u"readme.txt", "hello");
  builder.addFile(u"docs\\report.bin", generateContent(seededContent(7), 0, 40000));
  builder.addFile(u"docs\\empty.txt");
  builder.addFile(u"docs\\drafts\\note.txt", "read only").attributes = 0x21;
  builder.addFolder(u"docs\\drafts\\old");
  builder.addFile(u"Photos\\a.jpg", generateContent(seededContent(8), 0, 3000));
  DetailFileContents rootDetails;
  rootDetails.records.push_back({u"readme.txt", bytesOf("blob"), {}, {}, {}, {}, {}});
  rootDetails.records.push_back({u"docs", {}, bytesOf("second"), {}, {}, {}, {}});
  builder.addDetailFile(u"", rootDetails);
  DetailFileContents docsDetails;
  docsDetails.records.push_back({u"report.bin", bytesOf("x"), bytesOf("y"), {}, {}, {}, {}});
  builder.addDetailFile(u"docs", docsDetails);

  const std::optional<ArchiveLayout> layout = builder.layout();
  if (!layout) return std::nullopt;
  BaseArchive base;
  base.name = combination.name;
  base.password = combination.password;
  base.bytes = builder.build();
  base.parts[kHeader].push_back({0, 768});
  base.parts[kKeyBlock].push_back({768, 1024});
  base.parts[kChainTable].push_back({1024, layout->dataStart});
  auto addBlocks = [&](Part part, const BlockList& blocks) {
    for (std::uint32_t block : blocks) {
      const std::uint64_t at = layout->blockOffset(block);
      base.parts[part].push_back({at, at + disk::kBlockSize});
    }
  };
  addBlocks(kDirectories, layout->root.blocks);
  for (std::size_t i = 0; i < layout->items.size(); ++i) {
    const Item& item = builder.items()[i];
    const bool detail = !item.isFolder && item.path.ends_with(disk::kDetailFileName);
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

std::uint64_t offsetIn(std::mt19937_64& rng, const std::vector<Range>& ranges) {
  const Range& range = ranges[pick(rng, ranges.size())];
  return range.begin + pick(rng, range.end - range.begin);
}

// How often each kind of damage is chosen: the parts that steer the reader (chain table,
// directories, detail files) more than content, whose damage changes only bytes written.
constexpr std::uint64_t kKindWeights[kPartCount + 4] = {1,
                                                        1,
                                                        3,
                                                        4,
                                                        2,
                                                        1,
                                                        /*cut*/ 2,
                                                        /*extend*/ 1,
                                                        /*anywhere*/ 1,
                                                        /*structure*/ 3};

void storeLittleEndian(Bytes& bytes, std::uint64_t at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width && at + i < bytes.size(); ++i)
    bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
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
        case 0:
          bytes[at] ^= static_cast<std::uint8_t>(1u << pick(rng, 8));
          break;
        case 1:
          bytes[at] = value;
          break;
        case 2:
          bytes[at] = pick(rng, 2) == 0 ? 0x00 : 0xFF;
          break;
        default:  // a whole little-endian word: block numbers, counts and sizes
          for (std::uint64_t k = 0; k < 4 && at + k < bytes.size(); ++k)
            bytes[at + k] = static_cast<std::uint8_t>(pick(rng, 256));
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

}  // namespace

std::uint64_t pick(std::mt19937_64& rng, std::uint64_t below) {
  return below == 0 ? 0 : std::uniform_int_distribution<std::uint64_t>(0, below - 1)(rng);
}

std::vector<BaseArchive> damageBases() {
  std::vector<BaseArchive> bases;
  for (const CipherCombination& combination : kCombinations) {
    std::optional<BaseArchive> base = makeBase(combination);
    if (base) bases.push_back(std::move(*base));
  }
  return bases;
}

DamagedArchive damage(std::mt19937_64& rng, const BaseArchive& base) {
  DamagedArchive result{base.bytes, base.name + ", "};
  const std::uint64_t steps = 1 + (pick(rng, 4) == 0 ? pick(rng, 3) : 0);
  for (std::uint64_t i = 0; i < steps; ++i) {
    if (i > 0) result.description += "; ";
    damageOnce(rng, base, result.bytes, result.description);
  }
  return result;
}

}  // namespace sorvel::testing
