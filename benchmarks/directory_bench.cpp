// Parsing a whole directory into its items in name order, as opening an archive does per folder.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "archive/Extent.h"
#include "support/DirectoryGroup.h"
#include "tree/DirectoryParser.h"

namespace sorvel {
namespace {

// The stored directory of a folder of `count` files, zero up to the end of its last block; every
// fourth name needs two name entries.
Bytes directoryOf(std::size_t count) {
  Bytes directory;
  for (std::size_t i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, i % 4 == 0 ? "a rather longer file name %06zu.txt" : "file-%06zu.dat", i);
    testing::Item item;
    item.path.assign(name, name + std::char_traits<char>::length(name));
    const Bytes group = testing::encodeGroup(item, static_cast<std::uint32_t>(i + 3), i);
    directory.insert(directory.end(), group.begin(), group.end());
  }
  directory.resize((directory.size() / kBlockSize + 1) * kBlockSize, 0);
  return directory;
}

void parseFullDirectory(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const Bytes directory = directoryOf(count);
  ParsedDirectory items;
  for (auto _ : state) {
    if (!parseDirectory(directory.data(), directory.size(), items) || items.size() != count) {
      state.SkipWithError("the directory did not parse whole");
      break;
    }
    benchmark::DoNotOptimize(items);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * directory.size()));
}

BENCHMARK(parseFullDirectory)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sorvel
