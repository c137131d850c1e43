#include "app/Extractor.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "app/ContentJobs.h"
#include "app/OutputPath.h"
#include "archive/ChainReader.h"
#include "archive/ContentPipeline.h"
#include "platform/FileWriter.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tree/NameRules.h"

namespace sorvel {
namespace {

constexpr std::string_view kCannotExtract = "Error: can not extract: ";
constexpr std::string_view kDamagedItem = "Error: damaged item: ";
constexpr std::string_view kDamagedFolder = "Error: damaged folder: ";

// Why a file's content stops short of its size.
std::string contentShortfall(ContainerFile::ContentEnd end) {
  switch (end) {
    case ContainerFile::ContentEnd::Whole:
      return "a block could not be read";
    case ContainerFile::ContentEnd::Short:
      return "its chain is shorter than its size";
    case ContainerFile::ContentEnd::Missing:
      return "the archive file is cut off";
    case ContainerFile::ContentEnd::Claimed:
      return "its chain runs into blocks of another item";
    case ContainerFile::ContentEnd::Broken:
      return "its chain is broken";
  }
  return {};
}

}  // namespace

Extractor::Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline)
    : archive_(archive), report_(std::move(report)), pipelineOptions_(pipeline) {}

bool Extractor::extract(std::u16string_view pathInArchive, const std::string& outputFolder) {
  outputBase_ = stripTrailingSlashes(outputFolder);
  folders_.close();
  ItemRecord start;
  if (!archive_.findItem(pathInArchive, start)) return false;
  if (!start.isFolder()) {
    ChainReader content(archive_.container(), start.firstBlock(), start.size(), archive_.directoryBlocks());
    const bool written = writeItem(pathInArchive, start, &content);
    folders_.close();
    return written;
  }
  const bool result = writeItem(pathInArchive, start, nullptr);
  if (afterItem_) afterItem_(pathInArchive);

  // Item detail files are not written, but their blocks count as theirs: no later file may
  // have them. Every file's content is read and decrypted ahead, on other threads, in listing
  // order, each chain planned only as the reading reaches it.
  std::vector<Archive::ListedItem> items;
  archive_.listForExtraction(pathInArchive, items);
  std::vector<std::size_t> jobOf;
  const std::vector<ContentPipeline::Job> jobs = contentJobs(items, jobOf, [](const Archive::ListedItem& item) {
    return !item.detailFile && isSafeItemPath(item.path);  // what is written
  });
  ContentPipeline pipeline(archive_.container(), jobs, pipelineOptions_, archive_.directoryBlocks());
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].detailFile) continue;
    const std::size_t job = jobOf[i];
    const bool readable = job != SIZE_MAX && !jobs[job].claimOnly;
    writeItem(items[i].path, *items[i].record, readable ? &pipeline.job(job) : nullptr);
    if (afterItem_) afterItem_(items[i].path);
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
    ChainReader content(archive_.container(), record.firstBlock(), record.size(), archive_.directoryBlocks());
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

bool Extractor::writeItem(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content) {
  if (!isSafeItemPath(pathInArchive)) return reportItem(kCannotExtract, pathInArchive, "unsafe name");
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
    reportItem(kCannotExtract, pathInArchive, failure.reason);
  } else if (archive_.isDamagedFolder(pathInArchive)) {
    reportItem(kDamagedFolder, pathInArchive, "its directory is damaged");
  }
  return true;
}

bool Extractor::writeFile(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content,
                          const std::vector<std::string>& names) {
  auto fail = [&](std::string reason) {
    if (content != nullptr) content->abandon();  // what is left of it is not read
    return reportItem(kCannotExtract, pathInArchive, std::move(reason));
  };
  const std::uint64_t size = record.size();
  // Content that cannot be read at all is not written from nothing; but a file whose first
  // block is past the end of the archive or another item's is damaged like any cut-off file.
  if (size > 0 && content == nullptr) return fail("unsafe name");
  if (size > 0 && content->expected() == 0 && content->end() != ContainerFile::ContentEnd::Missing &&
      content->end() != ContainerFile::ContentEnd::Claimed) {
    return fail(contentShortfall(content->end()));
  }
  if (names.empty()) return fail(systemErrorText(EINVAL));

  OutputFolders::Failure failure;
  if (!folders_.isOpen() && !folders_.openBase(outputBase_, /*create=*/false, failure)) return fail(failure.reason);
  const std::vector<std::string> folderNames(names.begin(), names.end() - 1);
  const DirectoryHandle* folder = folders_.reach(folderNames, /*makeLast=*/false, failure);
  if (folder == nullptr) return fail(failure.reason);
  if (std::string refused = prepareTarget(*folder, names.back()); !refused.empty()) return fail(std::move(refused));
  std::optional<FileWriter> file = FileWriter::createIn(*folder, names.back());
  if (!file) return fail(systemErrorText(errno));
  std::uint64_t delivered = 0;
  if (size > 0) {
    for (ContentSource::Piece piece = content->next(); piece.size > 0; piece = content->next()) {
      if (!file->write(piece.data, piece.size)) return fail(systemErrorText(file->error()));
    }
    delivered = content->delivered();
    if (delivered == 0 && content->expected() > 0) return fail(contentShortfall(ContainerFile::ContentEnd::Whole));
  }

  // Content that stops short of the recorded size leaves a tail of zeros, made by extending the
  // file. Content is stored as it is, so no file is larger than the archive that holds it: the
  // tail stops at the archive file's size.
  const bool damaged = delivered < size;
  const std::uint64_t length = std::min(size, std::max(delivered, archive_.container().fileSize()));
  if (damaged && !file->extendTo(length)) return fail(systemErrorText(file->error()));
  if (!file->commit(record.accessed, record.modified, record.attributes())) return fail(systemErrorText(file->error()));
  if (damaged) {
    reportItem(kDamagedItem, pathInArchive,
               contentShortfall(delivered < content->expected() ? ContainerFile::ContentEnd::Whole : content->end()));
  }
  return true;
}

std::string Extractor::prepareTarget(const DirectoryHandle& folder, const std::string& name) const {
  if (existingFiles_ == ExistingFiles::ReplaceWritable) return {};
  struct stat status {};
  if (::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return {};
  if (existingFiles_ == ExistingFiles::Keep) return "it exists already";
  // A read-only file is made writable, so that the writer's commit may replace it.
  if (S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0 &&
      ::fchmodat(folder.fd(), name.c_str(), (status.st_mode & 07777) | S_IWUSR, 0) != 0) {
    return systemErrorText(errno);
  }
  return {};
}

bool Extractor::reportItem(std::string_view what, std::u16string_view pathInArchive, std::string reason) {
  problems_.push_back(Problem{what, std::u16string(pathInArchive), std::move(reason)});
  report_(std::string(what) + toUtf8Lossy(pathInArchive));
  return false;
}

}  // namespace sorvel
