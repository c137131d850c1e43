// Reads an archive the way extraction does, short of writing anything.
#include <algorithm>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ContentReader.h"
#include "archive/ContentPipeline.h"
#include "entries/FuzzEntries.h"
#include "entries/MemoryFile.h"

namespace sorvel::fuzz {
namespace {

// Content is read only this far, so that one input cannot ask for gigabytes of zeros: the
// reading code paths are the same for the first mebibyte as for the rest.
constexpr std::uint64_t kBytesPerFile = 1 << 20;
constexpr std::uint64_t kBytesPerInput = 8 << 20;
constexpr std::uint64_t kWholeReadLimit = 1 << 16;

struct ContentCheck {
  Archive& archive;
  std::uint64_t budget = kBytesPerInput;
  bool consistent = true;

  // Streams the first bytes of a file through a chain reader.
  void streamFile(const ItemRecord& record) {
    const std::uint64_t wanted = std::min({record.size(), kBytesPerFile, budget});
    if (wanted == 0) return;
    ContentReader reader(archive.container(), record.firstBlock(), wanted);
    Bytes buffer(4 * kBlockSize);
    std::uint64_t total = 0;
    for (std::size_t n = reader.read(buffer.data(), buffer.size()); n > 0;
         n = reader.read(buffer.data(), buffer.size())) {
      total += n;
    }
    if (reader.expected() > wanted || total != reader.delivered() || total > reader.expected()) consistent = false;
    if (!reader.failed() && total != reader.expected()) consistent = false;
    budget -= std::min(budget, total);
  }

  // Small files also go through the whole-file read.
  void readWhole(std::u16string_view path, const ItemRecord& record) {
    if (record.size() == 0 || record.size() > kWholeReadLimit) return;
    Bytes content;
    const std::uint64_t got = archive.readContent(path, content);
    if (got > record.size() || (got > 0 && content.size() != record.size())) consistent = false;
  }
};

// The files' content once more through the read-ahead pipeline, as extraction consumes it.
bool readThroughPipeline(Archive& archive, const std::vector<ItemRecord>& files) {
  std::vector<ContentPipeline::Job> jobs;
  std::uint64_t budget = kBytesPerInput;
  for (const ItemRecord& record : files) {
    const std::uint64_t wanted = std::min({record.size(), kBytesPerFile, budget});
    if (wanted == 0) break;
    budget -= wanted;
    jobs.push_back({record.firstBlock(), wanted});
  }
  ContentPipeline::Options options;
  options.workers = 1;
  options.slots = 2;
  options.blocksPerBatch = 4;
  ContentPipeline pipeline(archive.container(), jobs, options);
  bool consistent = true;
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    // Every third job is left unread, as extraction leaves the content of a file it cannot write.
    if (j % 3 == 2) continue;
    ContentSource& source = pipeline.job(j);
    std::uint64_t total = 0;
    for (ContentSource::Piece piece = source.next(); piece.size > 0; piece = source.next()) total += piece.size;
    if (total != source.delivered() || total > source.expected() || source.expected() > jobs[j].wanted) {
      consistent = false;
    }
  }
  return consistent;
}

}  // namespace

bool readArchive(const std::uint8_t* data, std::size_t size) {
  MemoryFile file(data, size);
  if (!file.valid()) return true;
  Archive archive;
  const std::string_view password = kFuzzPassword;
  if (!archive.checkPassword(file.path(), Bytes(password.begin(), password.end())) &&
      !archive.checkPassword(file.path(), Bytes{})) {
    return true;
  }
  if (!archive.open(file.path())) return true;

  std::vector<std::u16string> paths;
  std::vector<DetailRecordRef> details;
  archive.listItems(kRootPath, paths, details);
  if (paths.size() != details.size()) return false;

  ContentCheck check{archive};
  std::vector<ItemRecord> files;
  for (const std::u16string& path : paths) {
    ItemRecord record;
    if (!archive.findItem(path, record)) continue;
    if (record.isFolder()) {
      archive.isDamagedFolder(path);
      continue;
    }
    check.streamFile(record);
    check.readWhole(path, record);
    files.push_back(record);
  }
  return readThroughPipeline(archive, files) && check.consistent;
}

}  // namespace sorvel::fuzz
