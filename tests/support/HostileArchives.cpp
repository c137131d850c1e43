#include "support/HostileArchives.h"

#include <functional>
#include <string>
#include <vector>

namespace sorvel::testing {
namespace {

constexpr std::uint64_t kHugeSize = std::uint64_t{1} << 40;

// "f0042"-style names.
std::u16string numbered(char16_t letter, int n, int digits = 4) {
  std::u16string name(1, letter);
  std::u16string number;
  for (int i = 0; i < digits; ++i, n /= 10) number.insert(number.begin(), static_cast<char16_t>(u'0' + n % 10));
  return name + number;
}

// A chain through every block from `first` to the last entry, ascending, or from the last entry
// down to `first` when `descending`; none of those blocks is stored. Answers its first block.
std::uint32_t longChain(ArchiveSettings& settings, std::uint32_t first, std::uint32_t entries, bool descending) {
  const std::uint32_t last = entries - 1;
  if (descending) {
    for (std::uint32_t b = last; b > first; --b) settings.chainOverrides[b] = b - 1;
    settings.chainOverrides[first] = 1;
    return last;
  }
  for (std::uint32_t b = first; b < last; ++b) settings.chainOverrides[b] = b + 1;
  settings.chainOverrides[last] = 1;
  return first;
}

// The chain table's length fixed; answers the first block past those the items use.
std::uint32_t fixTable(ArchiveBuilder& builder, std::uint32_t entries) {
  builder.settings.chainEntryCount = entries;
  const auto layout = builder.layout();
  return layout ? layout->highestBlock + 1 : entries;
}

// `count` files of no stored content but `size` bytes recorded, all starting on one long chain.
void filesOnOneChain(ArchiveBuilder& builder, int count, const std::function<std::u16string(int)>& name,
                     std::uint64_t size, std::uint32_t entries, bool descending) {
  std::vector<Item*> files;
  for (int i = 0; i < count; ++i) {
    Item& file = builder.addFile(name(i));
    file.storedSize = size;
    files.push_back(&file);
  }
  const std::uint32_t start = longChain(builder.settings, fixTable(builder, entries), entries, descending);
  for (Item* file : files) file->firstBlock = start;
}

}  // namespace

std::vector<HostileShape> hostileShapes(std::uint32_t entries) {
  std::vector<HostileShape> shapes;
  const Bytes password = bytesOf("hostile");

  {  // One file whose size and chain claim gigabytes the file does not store.
    HostileShape& shape = shapes.emplace_back();
    shape.name = "one-long-chain";
    shape.builder.settings.password = password;
    filesOnOneChain(
        shape.builder, 1, [](int) { return u"big.bin"; }, kHugeSize, entries, false);
  }
  {  // Many files on one long chain.
    HostileShape& shape = shapes.emplace_back();
    shape.name = "shared-chain";
    shape.builder.settings.password = password;
    filesOnOneChain(
        shape.builder, 5250, [](int i) { return numbered(u'f', i); }, kHugeSize, entries, false);
  }
  {  // Many files on one chain the archive does store.
    HostileShape& shape = shapes.emplace_back();
    shape.name = "shared-stored-chain";
    shape.builder.settings.password = password;
    shape.builder.addFile(u"a.bin", Bytes(40 * disk::kBlockSize, 'a'));
    std::vector<Item*> files;
    for (int i = 0; i < 2000; ++i) {
      Item& file = shape.builder.addFile(numbered(u'f', i));
      file.storedSize = kHugeSize;
      files.push_back(&file);
    }
    shape.builder.settings.chainEntryCount = entries;
    const auto layout = shape.builder.layout();
    if (layout) {
      for (Item* file : files) file->firstBlock = layout->find(u"a.bin")->blocks.front();
    }
  }
  {  // Files on one chain in descending block order: every block is a run of its own.
    HostileShape& shape = shapes.emplace_back();
    shape.name = "descending-chain";
    shape.builder.settings.password = password;
    filesOnOneChain(
        shape.builder, 300, [](int i) { return numbered(u'd', i); }, kHugeSize, entries, true);
  }
  {  // Names too long for any file system, on one long chain: nothing can be written.
    HostileShape& shape = shapes.emplace_back();
    shape.name = "long-names";
    shape.builder.settings.password = password;
    filesOnOneChain(
        shape.builder, 20, [](int i) { return numbered(u'n', i) + std::u16string(300, u'x'); }, std::uint64_t{1} << 31,
        entries, false);
  }
  {  // Folders whose item detail tables run into one long tail, each of its own first block.
    HostileShape& shape = shapes.emplace_back();
    shape.name = "detail-tails";
    shape.builder.settings.password = password;
    DetailFileContents details;
    details.records.push_back({u"item.txt", bytesOf("blob"), {}, {}, {}, {}, {}});
    std::vector<Item*> tables;
    for (int i = 0; i < 400; ++i) {
      const std::u16string folder = numbered(u'g', i);
      shape.builder.addFile(folder + u"\\item.txt");
      tables.push_back(&shape.builder.addDetailFile(folder, details));
    }
    const std::uint32_t tail = longChain(shape.builder.settings, fixTable(shape.builder, entries), entries, true);
    const auto layout = shape.builder.layout();
    if (layout) {
      for (Item* table : tables) shape.builder.settings.chainOverrides[layout->find(table->path)->blocks.back()] = tail;
    }
  }
  return shapes;
}

}  // namespace sorvel::testing
