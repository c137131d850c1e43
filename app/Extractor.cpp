#include "app/Extractor.h"

#include <vector>

#include "app/OutputPath.h"
#include "archive/ChainReader.h"
#include "archive/ContentPipeline.h"
#include "platform/FileWriter.h"
#include "platform/MakeDirectory.h"
#include "platform/Utf16.h"

namespace sorvel {
namespace {

constexpr std::string_view kCannotExtract = "Error: can not extract: ";
constexpr std::string_view kDamagedItem = "Error: damaged item: ";
constexpr std::string_view kDamagedFolder = "Error: damaged folder: ";

}  // namespace

Extractor::Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline)
    : archive_(archive), report_(std::move(report)), pipelineOptions_(pipeline) {}

bool Extractor::extract(std::u16string_view pathInArchive, const std::string& outputFolder) {
  outputBase_ = stripTrailingSlashes(outputFolder);
  const bool result = extractItem(pathInArchive);
  ItemRecord start;
  if (!archive_.findItem(pathInArchive, start) || !start.isFolder()) return result;

  std::vector<std::u16string> paths;
  std::vector<DetailRecordRef> details;  // listed alongside; extraction has no use for them
  std::vector<const ItemRecord*> records;  // each item as findItem would give it
  archive_.listItems(pathInArchive, paths, details, &records);
  details.clear();

  // Every file's content is read and decrypted ahead, on other threads, in listing order.
  std::vector<PlannedItem> plan;
  std::vector<ContentPipeline::Job> jobs;
  plan.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    PlannedItem item{std::move(paths[i]), records[i], SIZE_MAX};
    if (!item.record->isFolder() && item.record->size() > 0 && isSafeItemPath(item.path)) {
      item.job = jobs.size();
      jobs.push_back({item.record->firstBlock(), item.record->size()});
    }
    plan.push_back(std::move(item));
  }
  ContentPipeline pipeline(archive_.container(), jobs, pipelineOptions_);
  for (const PlannedItem& item : plan) {
    writeItem(item.path, *item.record, item.job == SIZE_MAX ? nullptr : &pipeline.job(item.job));
  }
  folder_.close();  // a later walk opens its folders afresh, whatever happened to them meanwhile
  return result;
}

bool Extractor::extractItem(std::u16string_view pathInArchive) {
  ItemRecord record;
  if (!archive_.findItem(pathInArchive, record)) return false;
  if (record.isFolder()) return writeItem(pathInArchive, record, nullptr);
  ChainReader content(archive_.container(), record.firstBlock(), record.size());
  const bool written = writeItem(pathInArchive, record, &content);
  folder_.close();
  return written;
}

bool Extractor::writeItem(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content) {
  if (!isSafeItemPath(pathInArchive)) {
    reportItem(kCannotExtract, pathInArchive);
    return false;
  }
  const std::string outputPath = outputPathFor(outputBase_, pathInArchive, archive_.currentFolder().size());
  if (record.isFolder()) return writeFolder(pathInArchive, outputPath);
  return writeFile(pathInArchive, record, content, outputPath);
}

bool Extractor::writeFolder(std::u16string_view pathInArchive, const std::string& outputPath) {
  // An existing directory is fine; anything else means nothing below can be written either.
  if (!makeDirectory(outputPath)) {
    reportItem(kCannotExtract, pathInArchive);
  } else if (archive_.isDamagedFolder(pathInArchive)) {
    reportItem(kDamagedFolder, pathInArchive);
  }
  return true;
}

bool Extractor::writeFile(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content,
                          const std::string& outputPath) {
  auto fail = [&] {
    reportItem(kCannotExtract, pathInArchive);
    return false;
  };
  const std::uint64_t size = record.size();
  // Content that cannot be read at all is not written from nothing.
  if (size > 0 && (content == nullptr || content->expected() == 0)) return fail();

  std::optional<FileWriter> file = createFile(outputPath);
  if (!file) return fail();
  std::uint64_t delivered = 0;
  if (size > 0) {
    for (ContentSource::Piece piece = content->next(); piece.size > 0; piece = content->next()) {
      if (!file->write(piece.data, piece.size)) return fail();
    }
    delivered = content->delivered();
    if (delivered == 0) return fail();
  }

  // A chain shorter than the recorded size leaves a tail of zeros, made by extending the file.
  const bool damaged = delivered < size;
  if (damaged && !file->extendTo(size)) return fail();
  if (!file->commit(record.accessed, record.modified, record.attributes())) return fail();
  if (damaged) reportItem(kDamagedItem, pathInArchive);
  return true;
}

std::optional<FileWriter> Extractor::createFile(const std::string& outputPath) {
  // Files come folder by folder in listing order: the folder stays open for the next ones, and
  // each file is then created by its name alone.
  const auto slash = outputPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : outputPath.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
  if (!(folder_.isOpen() && folder_.path() == folder) && !folder_.open(folder)) return FileWriter::create(outputPath);
  return FileWriter::createIn(folder_, name);
}

void Extractor::reportItem(std::string_view what, std::u16string_view pathInArchive) {
  reportedProblems_ = true;
  report_(std::string(what) + toUtf8Lossy(pathInArchive));
}

}  // namespace sorvel
