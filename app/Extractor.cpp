#include "app/Extractor.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
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
std::string contentShortfall(ChainTable::ContentEnd end) {
  switch (end) {
    case ChainTable::ContentEnd::Whole:
      return std::string(Message::BlockUnreadable);
    case ChainTable::ContentEnd::Short:
      return std::string(Message::ChainTooShort);
    case ChainTable::ContentEnd::Missing:
      return std::string(Message::ArchiveCutOff);
    case ChainTable::ContentEnd::Claimed:
      return std::string(Message::ChainRunsIntoAnother);
    case ChainTable::ContentEnd::Broken:
      return std::string(Message::ChainBroken);
  }
  return {};
}

}  // namespace

Extractor::Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline)
    : archive_(archive), report_(std::move(report)), pipelineOptions_(pipeline) {}

bool Extractor::extract(std::u16string_view pathInArchive, const std::string& outputFolder) {
  outputBase_ = stripTrailingSlashes(outputFolder);
  main_.folders.close();
  written_.clear();
  ItemRecord start;
  if (!archive_.findItem(pathInArchive, start)) return false;
  if (!start.isFolder()) {
    ContentReader content(archive_.container(), start.firstBlock(), start.size(), archive_.directoryBlocks());
    const bool written = writeItem(main_, pathInArchive, start, &content);
    reportAll(main_);
    main_.folders.close();
    return written;
  }
  const bool result = writeItem(main_, pathInArchive, start, nullptr);
  reportAll(main_);
  // Without the output folder nothing below can be written: its one line says so for all.
  if (!main_.folders.isOpen()) return result;
  leftOutAfter_.clear();
  for (const LeftOutItem& item : archive_.tree().leftOut()) leftOutAfter_.emplace(&item.after->record, &item);
  if (const TreeNode* node = archive_.tree().findNode(pathInArchive)) reportLeftOut(&node->record);
  if (afterItem_) afterItem_(pathInArchive);

  // Item detail files are not written, but their blocks count as theirs: no later file may
  // have them. Every file's content is read and decrypted ahead, on other threads, in listing
  // order, each chain planned only as the reading reaches it.
  walkStart_ = std::u16string(pathInArchive);
  std::vector<Archive::ListedItem> items;
  archive_.listForExtraction(pathInArchive, items);
  std::vector<JobIndex> jobOf;
  const std::vector<ContentPipeline::Job> jobs = contentJobs(archive_, items, jobOf, [&](const Archive::ListedItem& item) {
    return !item.detailFile && isSafeItemPath(pathOf(item));  // what is written
  });
  ContentPipeline pipeline(archive_.container(), jobs, pipelineOptions_, archive_.directoryBlocks());
  std::vector<Unit> units = unitsOf(items, jobOf);
  if (useWriters(items, units)) {
    walkInParallel(items, jobOf, jobs, pipeline, units);
  } else {
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].detailFile) continue;
      const JobIndex job = jobOf[i];
      const bool readable = job != kNoJob && !jobs[job].claimOnly;
      main_.item = i;
      writeItem(main_, pathOf(items[i]), recordOf(items[i]), readable ? &pipeline.job(job) : nullptr);
      std::size_t next = 0;
      finishItem(main_.problems, next, i, items[i]);
      main_.problems.clear();
    }
  }
  main_.folders.close();  // a later walk opens its folders afresh, whatever happened to them meanwhile
  return result;
}

bool Extractor::useWriters(const std::vector<Archive::ListedItem>& items, const std::vector<Unit>& units) const {
  std::size_t files = 0;
  for (const Archive::ListedItem& item : items) files += !item.detailFile && !recordOf(item).isFolder();
  const auto runs = std::count_if(units.begin(), units.end(), [](const Unit& unit) { return !unit.folder; });
  return runs >= 2 && files >= writers_.minFiles;
}

std::vector<Extractor::Unit> Extractor::unitsOf(const std::vector<Archive::ListedItem>& items,
                                                const std::vector<JobIndex>& jobOf) const {
  std::vector<Unit> units;
  if (writers_.count < 2 || !hostTakesEveryName()) return units;
  auto add = [&](std::size_t begin, std::size_t end, bool folder) {
    Unit& unit = units.emplace_back();
    unit.begin = begin;
    unit.end = end;
    unit.folder = folder;
    for (std::size_t i = begin; i < end; ++i) {
      if (jobOf[i] == kNoJob) continue;
      unit.firstJob = std::min<std::size_t>(unit.firstJob, jobOf[i]);
      unit.endJob = jobOf[i] + 1;
    }
  };
  auto inSameFolder = [&](const Archive::ListedItem& a, const Archive::ListedItem& b) {
    return archive_.tree().node(a.node).parent == archive_.tree().node(b.node).parent;
  };
  // Two writers take neighbouring runs: two runs' content must fit in the pipeline's slots at
  // once, or the later writer waits for the earlier one. A run holds a quarter of them at most.
  const std::uint64_t maxBlocks =
      std::max<std::uint64_t>(1, std::uint64_t{pipelineOptions_.slots} * pipelineOptions_.blocksPerBatch / 4);
  auto blocksOf = [&](std::size_t i) { return (recordOf(items[i]).size() + kBlockSize - 1) / kBlockSize; };
  const std::size_t perRun = std::max<std::size_t>(writers_.filesPerRun, 1);
  for (std::size_t i = 0; i < items.size();) {
    if (recordOf(items[i]).isFolder()) {
      add(i, i + 1, true);
      ++i;
      continue;
    }
    // The files of one folder up to its next subfolder, cut into runs of about equal length.
    std::size_t end = i + 1;
    std::uint64_t blocks = blocksOf(i);
    for (; end < items.size() && !recordOf(items[end]).isFolder() && inSameFolder(items[end], items[i]);
         ++end) {
      blocks += blocksOf(end);
    }
    const std::uint64_t runs = std::max<std::uint64_t>((end - i + perRun - 1) / perRun, (blocks + maxBlocks - 1) / maxBlocks);
    const std::size_t length = static_cast<std::size_t>((end - i + runs - 1) / runs);
    while (i < end) {
      std::size_t last = i + 1;
      for (std::uint64_t taken = blocksOf(i); last < end && last - i < length && taken + blocksOf(last) <= maxBlocks; ++last) {
        taken += blocksOf(last);
      }
      add(i, last, false);
      i = last;
    }
  }
  return units;
}

void Extractor::walkInParallel(const std::vector<Archive::ListedItem>& items, const std::vector<JobIndex>& jobOf,
                               const std::vector<ContentPipeline::Job>& jobs, ContentPipeline& pipeline,
                               std::vector<Unit>& units) {
  std::mutex lock;
  std::condition_variable changed;
  std::size_t handedOut = 0;  // units the writers may take: their folders are made
  std::size_t taken = 0;      // the next unit a writer looks at

  auto writer = [&] {
    Lane lane;
    // The output folder as the calling thread opened it (where that fails, the first file opens
    // it by its path, as a single writer does).
    lane.folders.openBeside(main_.folders);
    for (;;) {
      std::size_t u;
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] {
          while (taken < handedOut && units[taken].folder) ++taken;
          return taken < handedOut || handedOut == units.size();
        });
        if (taken == units.size()) return;
        u = taken++;
      }
      Unit& unit = units[u];
      ContentPipeline::Reader reader(pipeline, unit.firstJob, unit.endJob);
      for (std::size_t i = unit.begin; i < unit.end; ++i) {
        if (items[i].detailFile) continue;
        lane.item = i;
        const JobIndex job = jobOf[i];
        const bool readable = job != kNoJob && !jobs[job].claimOnly;
        writeItem(lane, pathOf(items[i]), recordOf(items[i]), readable ? &reader.job(job) : nullptr);
      }
      reader.finish();
      {
        std::lock_guard<std::mutex> hold(lock);
        unit.problems = std::move(lane.problems);
        unit.done = true;
      }
      lane.problems.clear();
      changed.notify_all();
    }
  };
  std::thread second(writer);
  std::thread first(writer);

  // Folders are made here, each before the runs after it are handed out; every unit's lines go
  // out in listing order as soon as the units before it are done.
  std::size_t reported = 0;
  auto reportDone = [&](bool wait) {
    while (reported < units.size()) {
      {
        std::unique_lock<std::mutex> hold(lock);
        if (wait) changed.wait(hold, [&] { return units[reported].done; });
        if (!units[reported].done) return;
      }
      Unit& unit = units[reported++];
      std::size_t next = 0;
      for (std::size_t i = unit.begin; i < unit.end; ++i) {
        if (!items[i].detailFile) finishItem(unit.problems, next, i, items[i]);
      }
      unit.problems = {};
    }
  };
  for (std::size_t u = 0; u < units.size(); ++u) {
    Unit& unit = units[u];
    if (unit.folder) {
      main_.item = unit.begin;
      writeItem(main_, pathOf(items[unit.begin]), recordOf(items[unit.begin]), nullptr);
      std::lock_guard<std::mutex> hold(lock);
      unit.problems = std::move(main_.problems);
      main_.problems.clear();
      unit.done = true;
    }
    {
      std::lock_guard<std::mutex> hold(lock);
      handedOut = u + 1;
    }
    changed.notify_all();
    reportDone(false);
  }
  reportDone(true);
  first.join();
  second.join();
}

std::u16string Extractor::pathOf(const Archive::ListedItem& item) const { return archive_.listedPath(walkStart_, item); }

const ItemRecord& Extractor::recordOf(const Archive::ListedItem& item) const { return archive_.listedRecord(item); }

void Extractor::finishItem(std::vector<std::pair<std::size_t, Problem>>& problems, std::size_t& next, std::size_t item,
                           const Archive::ListedItem& listed) {
  for (; next < problems.size() && problems[next].first == item; ++next) report(std::move(problems[next].second));
  reportLeftOut(&recordOf(listed));
  if (afterItem_) afterItem_(pathOf(listed));
}

bool Extractor::extractItem(std::u16string_view pathInArchive) {
  ItemRecord record;
  if (!archive_.findItem(pathInArchive, record)) return false;
  bool written;
  if (record.isFolder()) {
    written = writeItem(main_, pathInArchive, record, nullptr);
  } else {
    ContentReader content(archive_.container(), record.firstBlock(), record.size(), archive_.directoryBlocks());
    written = writeItem(main_, pathInArchive, record, &content);
  }
  reportAll(main_);
  main_.folders.close();
  return written;
}

std::vector<std::string> Extractor::outputNames(std::u16string_view pathInArchive) const {
  const std::size_t skip = std::min(archive_.currentFolder().size(), pathInArchive.size());
  std::vector<std::string> names;
  for (const std::u16string& name : splitPath(pathInArchive.substr(skip))) names.push_back(toUtf8Lossy(name));
  return names;
}

std::optional<std::string> Extractor::hostRefusal(std::u16string_view pathInArchive) const {
  if (hostTakesEveryName()) return std::nullopt;
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
  if (hostTakesEveryName()) return;  // nothing to tell apart: the tree's names are unique already
  const std::size_t skip = std::min(archive_.currentFolder().size(), pathInArchive.size());
  const std::vector<std::u16string> names = splitPath(pathInArchive.substr(skip));
  if (names.empty()) return;
  std::u16string folder;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) folder += u'\\' + names[i];
  written_.note(folder, names.back());
}

bool Extractor::writeItem(Lane& lane, std::u16string_view pathInArchive, const ItemRecord& record,
                          ContentSource* content) {
  if (!isSafeItemPath(pathInArchive)) {
    return reportItem(lane, Message::CannotExtract, pathInArchive, std::string(Message::UnsafeName));
  }
  if (std::optional<std::string> refusal = hostRefusal(pathInArchive)) {
    if (content != nullptr) content->abandon();
    return reportItem(lane, Message::CannotExtract, pathInArchive, std::move(*refusal));
  }
  const std::vector<std::string> names = outputNames(pathInArchive);
  if (record.isFolder()) return writeFolder(lane, pathInArchive, names);
  return writeFile(lane, pathInArchive, record, content, names);
}

bool Extractor::writeFolder(Lane& lane, std::u16string_view pathInArchive, const std::vector<std::string>& names) {
  OutputFolders& folders = lane.folders;
  // An existing directory is fine; anything else means nothing below can be written either.
  OutputFolders::Failure failure;
  const bool made = names.empty() ? folders.openBase(outputBase_, /*create=*/true, failure)
                                  : (folders.isOpen() || folders.openBase(outputBase_, false, failure)) &&
                                        folders.reach(names, /*makeLast=*/true, failure) != nullptr;
  if (!made) {
    reportItem(lane, Message::CannotExtract, pathInArchive, failure.reason);
    return true;
  }
  noteWritten(pathInArchive);
  if (archive_.isDamagedFolder(pathInArchive)) {
    reportItem(lane, Message::DamagedFolder, pathInArchive, std::string(Message::DirectoryDamaged));
  }
  return true;
}

bool Extractor::writeFile(Lane& lane, std::u16string_view pathInArchive, const ItemRecord& record,
                          ContentSource* content, const std::vector<std::string>& names) {
  OutputFolders& folders = lane.folders;
  auto fail = [&](std::string reason) {
    if (content != nullptr) content->abandon();  // what is left of it is not read
    return reportItem(lane, Message::CannotExtract, pathInArchive, std::move(reason));
  };
  const std::uint64_t size = record.size();
  // Content that cannot be read at all is not written from nothing; but a file whose first
  // block is past the end of the archive or another item's is damaged like any cut-off file.
  if (size > 0 && content == nullptr) return fail(std::string(Message::UnsafeName));
  if (size > 0 && content->expected() == 0 && content->end() != ChainTable::ContentEnd::Missing &&
      content->end() != ChainTable::ContentEnd::Claimed) {
    return fail(std::string(Message::ContentUnreadable));
  }
  if (names.empty()) return fail(std::string(Message::UnsafeName));

  OutputFolders::Failure failure;
  if (!folders.isOpen() && !folders.openBase(outputBase_, /*create=*/false, failure)) return fail(failure.reason);
  const std::vector<std::string> folderNames(names.begin(), names.end() - 1);
  const DirectoryHandle* folder = folders.reach(folderNames, /*makeLast=*/false, failure);
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
  const std::uint64_t length = std::min(size, std::max(delivered, archive_.container().archiveFile().fileSize()));
  if (damaged && !file->extendTo(length)) return fail(failureText(file->error()));
  file->setCreationTime(record.created);
  if (!file->commit(record.accessed, record.modified, fileFlagsOf(record))) return fail(failureText(file->error()));
  noteWritten(pathInArchive);
  if (damaged) {
    reportItem(lane, Message::DamagedItem, pathInArchive,
               contentShortfall(delivered < content->expected() ? ChainTable::ContentEnd::Whole : content->end()));
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

bool Extractor::reportItem(Lane& lane, std::string_view what, std::u16string_view pathInArchive, std::string reason) {
  lane.problems.emplace_back(lane.item, Problem{what, std::u16string(pathInArchive), std::move(reason)});
  return false;
}

void Extractor::report(Problem problem) {
  std::string line = std::string(problem.what) + toUtf8Lossy(problem.path);
  if (problem.what == Message::CannotExtract) line += ": " + problem.reason;  // damage is told by the line alone
  problems_.push_back(std::move(problem));
  report_(line);
}

void Extractor::reportAll(Lane& lane) {
  for (auto& [item, problem] : lane.problems) report(std::move(problem));
  lane.problems.clear();
}

void Extractor::reportLeftOut(const ItemRecord* item) {
  const auto [first, last] = leftOutAfter_.equal_range(item);
  for (auto it = first; it != last; ++it) {
    const LeftOutItem& left = *it->second;
    report(Problem{Message::CannotExtract, left.path,
                   left.why == LeftOutItem::Why::SameName ? std::string(Message::SameNameAs) + toUtf8Lossy(left.namesake)
                                                          : std::string(Message::UnsafeName)});
  }
}

}  // namespace sorvel
