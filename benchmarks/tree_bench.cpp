// Building the folder tree of an archive of 1,000,000 items (1,000 folders of 1,000 empty
// files), which opening an archive does once: the time of a build (directories read, decrypted
// and parsed, the tree laid out), and what the tree costs per item. Counters:
//   tree_bytes_per_item  the tree's own tables (nodes, names) per item, as allocated
//   heap_bytes_per_item  what the heap grew by over the first build, per item: the tree, the
//                        items left out, and the directory blocks left in the block cache
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "archive/Archive.h"
#include "support/ArchiveBuilder.h"

namespace sorvel {
namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 1000;
constexpr std::size_t kItems = std::size_t{kFolders} * (kFilesPerFolder + 1);

std::size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// The archive, written once, and opened once: its password checked and its first tree built.
class MillionItems {
 public:
  MillionItems() : path_(std::filesystem::temp_directory_path() / ("sorvel_tree_bench_" + std::to_string(::getpid()))) {
    {
      testing::ArchiveBuilder builder;
      for (int d = 0; d < kFolders; ++d) {
        char folder[16];
        std::snprintf(folder, sizeof folder, "d%03d", d);
        builder.addFolder(std::u16string(folder, folder + 4));
        for (int f = 0; f < kFilesPerFolder; ++f) {
          char name[32];
          std::snprintf(name, sizeof name, "d%03d\\f%03d.bin", d, f);
          builder.addFile(std::u16string(name, name + std::char_traits<char>::length(name)));
        }
      }
      if (!builder.writeTo(path_)) return;
    }
    archive_ = std::make_unique<Archive>();
    if (!archive_->checkPassword(path_.string(), {})) return;
    const std::size_t before = heapInUse();
    opened_ = archive_->open();
    heapGrowth_ = heapInUse() - before;
  }
  ~MillionItems() { std::filesystem::remove(path_); }

  bool opened() const { return opened_; }
  Archive& archive() { return *archive_; }
  std::size_t heapGrowth() const { return heapGrowth_; }

 private:
  std::filesystem::path path_;
  std::unique_ptr<Archive> archive_;
  bool opened_ = false;
  std::size_t heapGrowth_ = 0;
};

void buildMillionItemTree(benchmark::State& state) {
  static MillionItems archive;
  if (!archive.opened() || archive.archive().tree().nodeCount() != kItems + 1) {
    state.SkipWithError("the archive did not open whole");
    return;
  }
  for (auto _ : state) {
    if (!archive.archive().open()) {
      state.SkipWithError("the tree was not built again");
      break;
    }
    benchmark::DoNotOptimize(archive.archive().tree().nodeCount());
  }
  const FolderTree& tree = archive.archive().tree();
  state.counters["tree_bytes_per_item"] = static_cast<double>(tree.bytesHeld()) / static_cast<double>(kItems);
  state.counters["heap_bytes_per_item"] = static_cast<double>(archive.heapGrowth()) / static_cast<double>(kItems);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kItems));
}

BENCHMARK(buildMillionItemTree)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace sorvel
