// Listing a folder's whole subtree, which extraction does once: the work per item must not grow
// with the folder. The report fits the times to a line in the number of items (listBigFolder_BigO,
// time per item) and says how far they stray from it (listBigFolder_RMS); what remains is the
// cost of cache misses once the tree outgrows the caches.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "archive/Archive.h"
#include "support/ArchiveBuilder.h"

namespace sorvel {
namespace {

// An opened archive whose folder "big" holds `count` empty files; built once per size.
class BigFolder {
 public:
  explicit BigFolder(std::size_t count)
      : path_(std::filesystem::temp_directory_path() /
              ("sorvel_listing_bench_" + std::to_string(::getpid()) + "_" + std::to_string(count))) {
    testing::ArchiveBuilder builder;
    // A zero entry behind the last group, so that it has the 97 bytes a group is read with
    // whatever the count.
    builder.addFolder(u"big").directory.trailing = Bytes(testing::disk::kEntrySize, 0);
    for (std::size_t i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "big\\f%06zu.txt", i);
      builder.addFile(std::u16string(name, name + std::char_traits<char>::length(name)));
    }
    opened_ = builder.writeTo(path_) && archive_.checkPassword(path_.string(), {}) && archive_.open(path_.string());
  }
  ~BigFolder() { std::filesystem::remove(path_); }

  bool opened() const { return opened_; }
  Archive& archive() { return archive_; }

 private:
  std::filesystem::path path_;
  Archive archive_;
  bool opened_ = false;
};

BigFolder& bigFolder(std::size_t count) {
  static std::map<std::size_t, std::unique_ptr<BigFolder>> built;
  auto& folder = built[count];
  if (!folder) folder = std::make_unique<BigFolder>(count);
  return *folder;
}

void listBigFolder(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  BigFolder& folder = bigFolder(count);
  if (!folder.opened()) {
    state.SkipWithError("the archive did not open");
    return;
  }
  for (auto _ : state) {
    std::vector<std::u16string> paths;
    std::vector<DetailRecordRef> details;
    folder.archive().listItems(u"\\big", paths, details);
    if (paths.size() != count) {
      state.SkipWithError("the listing missed items");
      break;
    }
    benchmark::DoNotOptimize(paths.data());
  }
  state.SetComplexityN(static_cast<std::int64_t>(count));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

BENCHMARK(listBigFolder)
    ->RangeMultiplier(2)
    ->Range(12500, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace sorvel
