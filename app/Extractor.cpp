#include "app/Extractor.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "app/ContentJobs.h"
#include "app/Messages.h"
#include "app/OutputPath.h"
#include "archive/ContentReader.h"
#include "archive/ContentPipeline.h"
#include "platform/ExistingFile.h"
#include "platform/FileWriter.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tree/NameRules.h"

namespace sorvel {
namespace {

// The system's text for a failed call, or ours where it would mislead.
std::string failureText(int error) {
  if (error == EISDIR) return std::string(Message::FolderInTheWay);
  return systemErrorText(error);
}

// What the written file keeps of the item's attribute byte.
FileFlags fileFlagsOf(const ItemRecord& record) {
  const std::uint8_t attributes = record.attributes();
  return {.readOnly = (attributes & kReadOnlyAttribute) != 0,
          .hidden = (attributes & kHiddenAttribute) != 0,
          .system = (attributes & kSystemAttribute) != 0,
          .archive = (attributes & kArchiveAttribute) != 0};
}

// Why a file's content stops short of its size.
std::string contentShortfall(ContainerFile::ContentEnd end) {
  switch (end) {
    case ContainerFile::ContentEnd::Whole:
      return std::string(Message::BlockUnreadable);
    case ContainerFile::ContentEnd::Short:
      return std::string(Message::ChainTooShort);
    case ContainerFile::ContentEnd::Missing:
      return std::string(Message::ArchiveCutOff);
    case ContainerFile::ContentEnd::Claimed:
      return std::string(Message::ChainRunsIntoAnother);
    case ContainerFile::ContentEnd::Broken:
      return std::string(Message::ChainBroken);
  }
  return {};
}

}  // namespace

Extractor::Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline)
    : archive_(archive), report_(std::move(report)), pipelineOptions_(pipeline) {}

bool Extractor::extract(std::u16string_view pathInArchive, const std::string& outputFolder) {
  outputBase_ = stripTrailingSlashes(outputFolder);
  folders_.close();
  written_.clear();
  ItemRecord start;
  if (!archive_.findItem(pathInArchive, start)) return false;
  if (!start.isFolder()) {
    ContentReader content(archive_.container(), start.firstBlock(), start.size(), archive_.directoryBlocks());
    const bool written = writeItem(pathInArchive, start, &content);
    folders_.close();
    return written;
  }
  const bool result = writeItem(pathInArchive, start, nullptr);
  // Without the output folder nothing below can be written: its one line says so for all.
  if (!folders_.isOpen()) return result;
  leftOutAfter_.clear();
  for (const LeftOutItem& item : archive_.tree().leftOut()) leftOutAfter_.emplace(&item.after->record, &item);
  if (const TreeNode* node = archive_.tree().findNode(pathInArchive)) reportLeftOut(&node->record);
  if (afterItem_) afterItem_(pathInArchive);

  // Item detail files are not written, but their blocks count as theirs: no later file may
  // have them. Every file's content is read and decrypted ahead, on other threads, in listing
  // order, each chain planned only as the reading reaches it.
  std::vector<Archive::ListedItem> items;
  archive_.listForExtraction(pathInArchive, items);
  std::vector<std::size_t> jobOf;
  const std::vector<ContentPipeline::Job> jobs = contentJobs(items, jobOf, [&](const Archive::ListedItem& item) {
    return !item.detailFile && isSafeItemPath(archive_.listedPath(pathInArchive, item));  // what is written
  });
  ContentPipeline pipeline(archive_.container(), jobs, pipelineOptions_, archive_.directoryBlocks());
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].detailFile) continue;
    const std::size_t job = jobOf[i];
    const bool readable = job != SIZE_MAX && !jobs[job].claimOnly;
    const std::u16string path = archive_.listedPath(pathInArchive, items[i]);
    writeItem(path, *items[i].record, readable ? &pipeline.job(job) : nullptr);
    reportLeftOut(items[i].record);
    if (afterItem_) afterItem_(path);
  }
  folders_.close();  // a later walk opens its folders afresh, whatever happened to them meanwhile
  return result;
}

bool Extractor::extractItem(std::u16string_view pathInArchive) {
  ItemRecord record;
  if (!archive_.findItem(pathInArchive, record)) return false;
  bool written;
  if (record.isFolder()) {
    written = writeItem(pathInArchive, record, nullptr);
  } else {
    ContentReader content(archive_.container(), record.firstBlock(), record.size(), archive_.directoryBlocks());
    written = writeItem(pathInArchive, record, &content);
  }
  folders_.close();
  return written;
}

std::vector<std::string> Extractor::outputNames(std::u16string_view pathInArchive) const {
  const std::size_t skip = std::min(archive_.currentFolder().size(), pathInArchive.size());
  std::vector<std::string> names;
  for (const std::u16string& name : splitPath(pathInArchive.substr(skip))) names.push_back(toUtf8Lossy(name));
  return names;
}

std::optional<std::string> Extractor::hostRefusal(std::u16string_view pathInArchive) const {
  const std::size_t skip = std::min(archive_.currentFolder().size(), pathInArchive.size());
  std::u16string folder;
  for (const std::u16string& name : splitPath(pathInArchive.substr(skip))) {
    if (std::optional<std::string> refusal = hostNameRefusal(name)) return refusal;
    if (std::optional<std::string> collision = written_.collision(folder, name)) return collision;
    folder += u'\\';
    folder += name;
  }
  return std::nullopt;
}

void Extractor::noteWritten(std::u16string_view pathInArchive) {
  const std::size_t skip = std::min(archive_.currentFolder().size(), pathInArchive.size());
  const std::vector<std::u16string> names = splitPath(pathInArchive.substr(skip));
  if (names.empty()) return;
  std::u16string folder;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) folder += u'\\' + names[i];
  written_.note(folder, names.back());
}

bool Extractor::writeItem(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content) {
  if (!isSafeItemPath(pathInArchive)) return reportItem(Message::CannotExtract, pathInArchive, std::string(Message::UnsafeName));
  if (std::optional<std::string> refusal = hostRefusal(pathInArchive)) {
    if (content != nullptr) content->abandon();
    return reportItem(Message::CannotExtract, pathInArchive, std::move(*refusal));
  }
  const std::vector<std::string> names = outputNames(pathInArchive);
  if (record.isFolder()) return writeFolder(pathInArchive, names);
  return writeFile(pathInArchive, record, content, names);
}

bool Extractor::writeFolder(std::u16string_view pathInArchive, const std::vector<std::string>& names) {
  // An existing directory is fine; anything else means nothing below can be written either.
  OutputFolders::Failure failure;
  const bool made = names.empty() ? folders_.openBase(outputBase_, /*create=*/true, failure)
                                  : (folders_.isOpen() || folders_.openBase(outputBase_, false, failure)) &&
                                        folders_.reach(names, /*makeLast=*/true, failure) != nullptr;
  if (!made) {
    reportItem(Message::CannotExtract, pathInArchive, failure.reason);
    return true;
  }
  noteWritten(pathInArchive);
  if (archive_.isDamagedFolder(pathInArchive)) {
    reportItem(Message::DamagedFolder, pathInArchive, std::string(Message::DirectoryDamaged));
  }
  return true;
}

bool Extractor::writeFile(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content,
                          const std::vector<std::string>& names) {
  auto fail = [&](std::string reason) {
    if (content != nullptr) content->abandon();  // what is left of it is not read
    return reportItem(Message::CannotExtract, pathInArchive, std::move(reason));
  };
  const std::uint64_t size = record.size();
  // Content that cannot be read at all is not written from nothing; but a file whose first
  // block is past the end of the archive or another item's is damaged like any cut-off file.
  if (size > 0 && content == nullptr) return fail(std::string(Message::UnsafeName));
  if (size > 0 && content->expected() == 0 && content->end() != ContainerFile::ContentEnd::Missing &&
      content->end() != ContainerFile::ContentEnd::Claimed) {
    return fail(std::string(Message::ContentUnreadable));
  }
  if (names.empty()) return fail(std::string(Message::UnsafeName));

  OutputFolders::Failure failure;
  if (!folders_.isOpen() && !folders_.openBase(outputBase_, /*create=*/false, failure)) return fail(failure.reason);
  const std::vector<std::string> folderNames(names.begin(), names.end() - 1);
  const DirectoryHandle* folder = folders_.reach(folderNames, /*makeLast=*/false, failure);
  if (folder == nullptr) return fail(failure.reason);
  if (std::string refused = prepareTarget(*folder, names.back()); !refused.empty()) return fail(std::move(refused));
  std::optional<FileWriter> file = FileWriter::createIn(*folder, names.back());
  if (!file) return fail(failureText(errno));
  std::uint64_t delivered = 0;
  if (size > 0) {
    for (ContentSource::Piece piece = content->next(); piece.size > 0; piece = content->next()) {
      if (!file->write(piece.data, piece.size)) return fail(failureText(file->error()));
    }
    delivered = content->delivered();
    if (delivered == 0 && content->expected() > 0) return fail(std::string(Message::ContentUnreadable));
  }

  // Content that stops short of the recorded size leaves a tail of zeros, made by extending the
  // file. Content is stored as it is, so no file is larger than the archive that holds it: the
  // tail stops at the archive file's size.
  const bool damaged = delivered < size;
  const std::uint64_t length = std::min(size, std::max(delivered, archive_.container().fileSize()));
  if (damaged && !file->extendTo(length)) return fail(failureText(file->error()));
  file->setCreationTime(record.created);
  if (!file->commit(record.accessed, record.modified, fileFlagsOf(record))) return fail(failureText(file->error()));
  noteWritten(pathInArchive);
  if (damaged) {
    reportItem(Message::DamagedItem, pathInArchive,
               contentShortfall(delivered < content->expected() ? ContainerFile::ContentEnd::Whole : content->end()));
  }
  return true;
}

std::string Extractor::prepareTarget(const DirectoryHandle& folder, const std::string& name) const {
  if (existingFiles_ == ExistingFiles::ReplaceWritable) return {};
  if (!entryExists(folder, name)) return {};
  if (existingFiles_ == ExistingFiles::Keep) return std::string(Message::ExistsAlready);
  // A read-only file is made writable, so that the writer's commit may replace it.
  if (const int error = clearReadOnly(folder, name); error != 0) return systemErrorText(error);
  return {};
}

bool Extractor::reportItem(std::string_view what, std::u16string_view pathInArchive, std::string reason) {
  std::string line = std::string(what) + toUtf8Lossy(pathInArchive);
  if (what == Message::CannotExtract) line += ": " + reason;  // damage is told by the line alone
  problems_.push_back(Problem{what, std::u16string(pathInArchive), std::move(reason)});
  report_(line);
  return false;
}

void Extractor::reportLeftOut(const ItemRecord* item) {
  const auto [first, last] = leftOutAfter_.equal_range(item);
  for (auto it = first; it != last; ++it) {
    const LeftOutItem& left = *it->second;
    reportItem(Message::CannotExtract, left.path,
               left.why == LeftOutItem::Why::SameName ? std::string(Message::SameNameAs) + toUtf8Lossy(left.namesake)
                                                      : std::string(Message::UnsafeName));
  }
}

}  // namespace sorvel
