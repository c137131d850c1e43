#include "app/Extractor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "app/Messages.h"
#include "app/OutputPath.h"
#include "app/OutputPlan.h"
#include "archive/ContentReader.h"
#include "archive/ContentPipeline.h"
#include "platform/ExistingFile.h"
#include "platform/FileWriter.h"
#include "platform/FolderTimes.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace sorvel {
namespace {

// What a kept file is noted as among the problems of its lane: it travels with them, to be told
// in listing order, but is none.
constexpr std::string_view kKept = "kept";

// The system's text for a failed call, or ours where it would mislead.
std::string failureText(int error) {
  if (error == EISDIR) return std::string(Message::FolderInTheWay);
  return systemErrorText(error);
}

// What a failure thrown on a writer thread says: exhausted memory in the system's words, any
// other in its own.
std::string failureText(const std::exception_ptr& failure) {
  if (!failure) return std::string(Message::ExtractionStopped);
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    return systemErrorText(ENOMEM);
  } catch (const std::exception& thrown) {
    return thrown.what();
  } catch (...) {
    return std::string(Message::ExtractionStopped);
  }
}

// Why a folder could not be reached or made.
std::string folderFailureText(const OutputFolders::Failure& failure) {
  switch (failure.inTheWay) {
    case OutputFolders::InTheWay::SymbolicLink:
      return std::string(Message::SymbolicLinkInTheWay);
    case OutputFolders::InTheWay::ReparsePoint:
      return std::string(Message::ReparsePointInTheWay);
    case OutputFolders::InTheWay::Nothing:
      break;
  }
  return systemErrorText(failure.error);
}

// What the written file keeps of the item's attribute byte.
FileFlags fileFlagsOf(const ItemRecord& record) {
  const std::uint8_t attributes = record.attributes();
  return {.readOnly = (attributes & kReadOnlyAttribute) != 0,
          .hidden = (attributes & kHiddenAttribute) != 0,
          .system = (attributes & kSystemAttribute) != 0,
          .archive = (attributes & kArchiveAttribute) != 0};
}

}  // namespace

Extractor::Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline)
    : archive_(archive), report_(std::move(report)), pipelineOptions_(pipeline) {}

bool Extractor::extract(std::u16string_view pathInArchive, const std::string& outputFolder) {
  ItemRecord start;
  if (!archive_.findItem(pathInArchive, start)) return false;
  return extract(OutputPlan(archive_, pathInArchive), outputFolder);
}

bool Extractor::extract(const OutputPlan& plan, const std::string& outputFolder) {
  outputBase_ = stripTrailingSlashes(outputFolder);
  main_.folders.close();
  plan_ = &plan;
  const bool result = walk(plan);
  if (folderTimes_ && main_.folders.isOpen()) setTimesOfFolders(plan);
  plan_ = nullptr;
  main_.folders.close();  // a later walk opens its folders afresh, whatever happened to them meanwhile
  return result;
}

bool Extractor::extractAtFullPath(std::u16string_view pathInArchive, const std::string& outputFolder) {
  return makeFoldersAbove(pathInArchive, outputFolder) && extract(pathInArchive, outputFolder);
}

bool Extractor::extractAtFullPath(const OutputPlan& plan, const std::string& outputFolder) {
  return makeFoldersAbove(plan.pathOf(plan.start()), outputFolder) && extract(plan, outputFolder);
}

bool Extractor::makeFoldersAbove(std::u16string_view pathInArchive, const std::string& outputFolder) {
  const std::vector<std::u16string> names = splitPath(pathInArchive);
  if (names.empty() || !isSafeItemPath(pathInArchive)) return true;
  OutputFolders folders;
  OutputFolders::Failure failure;
  bool made = folders.openBase(outputFolder, /*create=*/true, failure);
  std::vector<std::string> above;
  for (std::size_t i = 0; made && i + 1 < names.size(); ++i) {
    above.push_back(toUtf8Lossy(names[i]));
    made = folders.reach(above, /*makeLast=*/true, failure) != nullptr;
  }
  if (!made) report(Problem{Message::CannotExtract, std::u16string(pathInArchive), folderFailureText(failure)});
  return made;
}

bool Extractor::walk(const OutputPlan& plan) {
  if (!plan.isFolder(plan.start())) {
    ContentReader content(archive_.container(), plan.recordOf(plan.start()).firstBlock(),
                          plan.recordOf(plan.start()).size(), archive_.directoryBlocks());
    const bool written = writeItem(main_, plan.start(), &content);
    reportAll(main_);
    return written;
  }
  const bool result = writeItem(main_, plan.start(), nullptr);
  reportAll(main_);
  // Without the output folder nothing below can be written: its one line says so for all.
  if (!main_.folders.isOpen()) return result;
  reportAbsent(OutputPlan::kAfterStart);
  if (afterItem_) afterItem_(plan.pathOf(plan.start()));

  // Every file's content is read and decrypted ahead, on other threads, in listing order, each
  // chain planned only as the reading reaches it.
  const std::vector<PlannedItem>& items = plan.items();
  const std::vector<ContentPipeline::Job>& jobs = plan.jobs();
  ContentPipeline pipeline(archive_.container(), jobs, pipelineOptions_, archive_.directoryBlocks());
  std::vector<Unit> units = unitsOf(items);
  if (!useWriters(items, units) || !walkInParallel(items, pipeline, units)) {
    for (std::size_t i = 0; i < items.size() && !stopRequested(); ++i) {
      if (items[i].detailFile) continue;
      const JobIndex job = items[i].job;
      const bool readable = job != kNoJob && !jobs[job].claimOnly;
      main_.item = i;
      writeItem(main_, items[i], readable ? &pipeline.job(job) : nullptr);
      std::size_t next = 0;
      finishItem(main_.problems, next, i);
      main_.problems.clear();
    }
  }
  return result;
}

void Extractor::setTimesOfFolders(const OutputPlan& plan) {
  auto setTimes = [&](const PlannedItem& item) {
    if (!item.written() || !plan.isFolder(item)) return;
    std::vector<std::string> names = OutputPlan::outputNames(plan.pathOf(item));
    if (names.empty()) return;  // the output folder itself: the archive's root has no times
    const std::string name = std::move(names.back());
    names.pop_back();
    OutputFolders::Failure failure;
    const DirectoryHandle* parent = main_.folders.reach(names, /*makeLast=*/false, failure);
    const ItemRecord& record = plan.recordOf(item);
    if (parent != nullptr) setFolderTimes(*parent, name, record.accessed, record.modified);
  };
  setTimes(plan.start());
  for (const PlannedItem& item : plan.items()) setTimes(item);
}

bool Extractor::useWriters(const std::vector<PlannedItem>& items, const std::vector<Unit>& units) const {
  std::size_t files = 0;
  for (const PlannedItem& item : items) files += !item.detailFile && !recordOf(item).isFolder();
  const auto runs = std::count_if(units.begin(), units.end(), [](const Unit& unit) { return !unit.folder; });
  return runs >= 2 && files >= writers_.minFiles;
}

std::vector<Extractor::Unit> Extractor::unitsOf(const std::vector<PlannedItem>& items) const {
  std::vector<Unit> units;
  if (writers_.count < 2 || !hostTakesEveryName()) return units;
  auto add = [&](std::size_t begin, std::size_t end, bool folder) {
    Unit& unit = units.emplace_back();
    unit.begin = begin;
    unit.end = end;
    unit.folder = folder;
    for (std::size_t i = begin; i < end; ++i) {
      if (items[i].job == kNoJob) continue;
      unit.firstJob = std::min<std::size_t>(unit.firstJob, items[i].job);
      unit.endJob = items[i].job + 1;
    }
  };
  auto inSameFolder = [&](const PlannedItem& a, const PlannedItem& b) {
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
    for (; end < items.size() && !recordOf(items[end]).isFolder() && inSameFolder(items[end], items[i]); ++end) {
      blocks += blocksOf(end);
    }
    const std::uint64_t runs =
        std::max<std::uint64_t>((end - i + perRun - 1) / perRun, (blocks + maxBlocks - 1) / maxBlocks);
    const std::size_t length = static_cast<std::size_t>((end - i + runs - 1) / runs);
    while (i < end) {
      std::size_t last = i + 1;
      for (std::uint64_t taken = blocksOf(i); last < end && last - i < length && taken + blocksOf(last) <= maxBlocks;
           ++last) {
        taken += blocksOf(last);
      }
      add(i, last, false);
      i = last;
    }
  }
  return units;
}

// What the calling thread and the writers of a walk in parallel share.
struct Extractor::Handout {
  Handout(const std::vector<PlannedItem>& walkItems, std::vector<Unit>& walkUnits)
      : items(walkItems), units(walkUnits) {}

  void stop() {
    {
      std::lock_guard<std::mutex> hold(lock);
      stopping = true;
    }
    changed.notify_all();
  }

  // The next unit of files for a writer, once it is handed out; null when there is none left or
  // the walk stopped.
  Unit* nextRun() {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] {
      while (taken < handedOut && units[taken].folder) ++taken;
      return stopping || taken < handedOut || handedOut == units.size();
    });
    if (stopping || taken == units.size()) return nullptr;
    return &units[taken++];
  }

  const std::vector<PlannedItem>& items;
  std::vector<Unit>& units;
  std::mutex lock;
  std::condition_variable changed;
  std::size_t handedOut = 0;  // units the writers may take: their folders are made
  std::size_t taken = 0;      // the next unit a writer looks at
  std::size_t reported = 0;   // units whose lines went out (on the calling thread)
  // Set when a writer fails, when the writers cannot all start, or when this thread leaves early
  // by an exception: every writer stops at its next item, and no unit is handed out any more.
  std::atomic<bool> stopping{false};
  std::exception_ptr failure;  // the first writer's that failed, and the item it was on
  std::size_t failedItem = SIZE_MAX;
};

bool Extractor::walkInParallel(const std::vector<PlannedItem>& items, ContentPipeline& pipeline,
                               std::vector<Unit>& units) {
  Handout walk(items, units);
  auto writer = [&] { runWriter(walk, pipeline); };

  // The writers are stopped and joined however this thread leaves, an exception included.
  struct Joined {
    std::vector<std::thread> threads;
    Handout& walk;
    void join() {
      if (threads.empty()) return;
      walk.stop();
      for (std::thread& thread : threads) {
        if (thread.joinable()) thread.join();
      }
      threads.clear();
    }
    ~Joined() { join(); }
  } writers{{}, walk};
  writers.threads.reserve(2);
  try {
    for (int w = 0; w < 2; ++w) writers.threads.push_back(startThread_ ? startThread_(writer) : std::thread(writer));
  } catch (const std::exception&) {
    return false;  // a writer that cannot start has nothing handed out yet: the walk goes on with one
  }

  handOutUnits(walk);
  reportFinishedUnits(walk, /*wait=*/true);
  if (!walk.stopping) return true;

  // A writer failed: once both are gone, what was not written is reported in listing order.
  writers.join();
  // Stopped on request: what was not written is not told item by item.
  if (stopRequested() && !walk.failure) return true;
  noteNotWritten(items, units, walk.reported, walk.failedItem, failureText(walk.failure));
  reportFinishedUnits(walk, /*wait=*/false);
  return true;
}

void Extractor::runWriter(Handout& walk, ContentPipeline& pipeline) {
  Lane lane;
  Unit* unit = nullptr;  // the unit in hand
  try {
    // The output folder as the calling thread opened it (where that fails, the first file opens
    // it by its path, as a single writer does).
    lane.folders.openBeside(main_.folders);
    while ((unit = walk.nextRun()) != nullptr) {
      writeRun(lane, *unit, walk, pipeline);
      {
        std::lock_guard<std::mutex> hold(walk.lock);
        unit->problems = std::move(lane.problems);
        unit->done = true;
      }
      unit = nullptr;
      lane.problems.clear();
      walk.changed.notify_all();
    }
  } catch (...) {
    // Whatever the writer had in hand is gone with the stack (a file being written takes its
    // temporary file with it); the item it was on is reported with the failure, and every
    // writer stops. Nothing here allocates.
    {
      std::lock_guard<std::mutex> hold(walk.lock);
      walk.stopping = true;
      if (!walk.failure) {
        walk.failure = std::current_exception();
        walk.failedItem = unit != nullptr ? lane.item : 0;
      }
      if (unit != nullptr) {
        unit->problems = std::move(lane.problems);
        unit->stoppedAt = lane.item;
        unit->done = true;
      }
    }
    walk.changed.notify_all();
  }
}

void Extractor::writeRun(Lane& lane, Unit& unit, Handout& walk, ContentPipeline& pipeline) {
  const std::vector<ContentPipeline::Job>& jobs = plan_->jobs();
  const std::vector<PlannedItem>& items = walk.items;
  lane.item = unit.begin;
  ContentPipeline::Reader reader(pipeline, unit.firstJob, unit.endJob);
  for (std::size_t i = unit.begin; i < unit.end && unit.stoppedAt == SIZE_MAX; ++i) {
    if (stopRequested() && !walk.stopping) walk.stop();
    if (walk.stopping) {
      unit.stoppedAt = i;
    } else if (!items[i].detailFile) {
      lane.item = i;
      const JobIndex job = items[i].job;
      const bool readable = job != kNoJob && !jobs[job].claimOnly;
      writeItem(lane, items[i], readable ? &reader.job(job) : nullptr);
    }
  }
  reader.finish();
}

void Extractor::handOutUnits(Handout& walk) {
  std::vector<Unit>& units = walk.units;
  for (std::size_t u = 0; u < units.size() && !walk.stopping; ++u) {
    if (stopRequested()) {
      walk.stop();
      break;
    }
    Unit& unit = units[u];
    if (unit.folder) {
      main_.item = unit.begin;
      writeItem(main_, walk.items[unit.begin], nullptr);
      std::lock_guard<std::mutex> hold(walk.lock);
      unit.problems = std::move(main_.problems);
      main_.problems.clear();
      unit.done = true;
    }
    {
      std::lock_guard<std::mutex> hold(walk.lock);
      walk.handedOut = u + 1;
    }
    walk.changed.notify_all();
    reportFinishedUnits(walk, /*wait=*/false);
  }
}

void Extractor::reportFinishedUnits(Handout& walk, bool wait) {
  std::vector<Unit>& units = walk.units;
  while (walk.reported < units.size()) {
    {
      std::unique_lock<std::mutex> hold(walk.lock);
      if (wait) walk.changed.wait(hold, [&] { return units[walk.reported].done || walk.stopping; });
      // A unit the writers stopped in is told once both are gone, with what it did not write.
      if (!units[walk.reported].done || units[walk.reported].stoppedAt != SIZE_MAX) return;
    }
    Unit& unit = units[walk.reported++];
    std::size_t next = 0;
    for (std::size_t i = unit.begin; i < unit.end; ++i) {
      if (!walk.items[i].detailFile) finishItem(unit.problems, next, i);
    }
    unit.problems = {};
  }
}

void Extractor::noteNotWritten(const std::vector<PlannedItem>& items, std::vector<Unit>& units, std::size_t from,
                               std::size_t failedItem, const std::string& failure) const {
  bool failureTold = false;
  for (std::size_t u = from; u < units.size(); ++u) {
    Unit& unit = units[u];
    for (std::size_t i = unit.done ? unit.stoppedAt : unit.begin; i < unit.end; ++i) {
      if (items[i].detailFile) continue;
      const bool failed = !failureTold && i >= failedItem;
      failureTold |= failed;
      unit.problems.emplace_back(i, Problem{Message::CannotExtract, plan_->pathOf(items[i]),
                                            failed ? failure : std::string(Message::ExtractionStopped)});
    }
    unit.done = true;
    unit.stoppedAt = SIZE_MAX;  // told in full now
  }
}

const ItemRecord& Extractor::recordOf(const PlannedItem& item) const { return plan_->recordOf(item); }

void Extractor::finishItem(std::vector<std::pair<std::size_t, Problem>>& problems, std::size_t& next,
                           std::size_t item) {
  for (; next < problems.size() && problems[next].first == item; ++next) report(std::move(problems[next].second));
  reportAbsent(item);
  if (afterItem_) afterItem_(plan_->pathOf(plan_->items()[item]));
}

bool Extractor::writeItem(Lane& lane, const PlannedItem& item, ContentSource* content) {
  const std::u16string pathInArchive = plan_->pathOf(item);
  if (!item.written()) {
    if (content != nullptr) content->abandon();
    return reportItem(lane, Message::CannotExtract, pathInArchive, plan_->reasonOf(item));
  }
  const std::vector<std::string> names = OutputPlan::outputNames(pathInArchive);
  if (recordOf(item).isFolder()) return writeFolder(lane, item, pathInArchive, names);
  return writeFile(lane, pathInArchive, recordOf(item), content, names);
}

bool Extractor::writeFolder(Lane& lane, const PlannedItem& item, std::u16string_view pathInArchive,
                            const std::vector<std::string>& names) {
  OutputFolders& folders = lane.folders;
  // An existing directory is fine; anything else means nothing below can be written either.
  OutputFolders::Failure failure;
  const bool made = names.empty() ? folders.openBase(outputBase_, /*create=*/true, failure)
                                  : (folders.isOpen() || folders.openBase(outputBase_, false, failure)) &&
                                        folders.reach(names, /*makeLast=*/true, failure) != nullptr;
  if (!made) {
    reportItem(lane, Message::CannotExtract, pathInArchive, folderFailureText(failure));
    return true;
  }
  if (plan_->isDamagedFolder(item)) {
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
  // Content that cannot be read at all is not written from nothing.
  if (size > 0 && (content == nullptr || !contentWritable(size, content->expected(), content->end()))) {
    return fail(std::string(Message::ContentUnreadable));
  }
  if (names.empty()) return fail(std::string(Message::UnsafeName));

  OutputFolders::Failure failure;
  if (!folders.isOpen() && !folders.openBase(outputBase_, /*create=*/false, failure))
    return fail(folderFailureText(failure));
  const std::vector<std::string> folderNames(names.begin(), names.end() - 1);
  const DirectoryHandle* folder = folders.reach(folderNames, /*makeLast=*/false, failure);
  if (folder == nullptr) return fail(folderFailureText(failure));
  const bool keep = existingFiles_ == ExistingFiles::Keep;
  if (keep) {
    // Nothing is read for a file that stays; the writer keeps one that appears meanwhile.
    const ExistingEntry standing = existingEntry(*folder, names.back());
    if (standing == ExistingEntry::Folder) return fail(failureText(EISDIR));
    if (standing != ExistingEntry::Nothing) {
      if (content != nullptr) content->abandon();
      return noteKept(lane, pathInArchive);
    }
  }
  std::optional<FileWriter> file = FileWriter::createIn(*folder, names.back(), writeCall_);
  if (!file) return fail(failureText(errno));
  // Replacing a file takes its name from it; the file itself is left as it is.
  file->setExistingFiles(existingFiles_);
  if (size > 0) {
    for (ContentSource::Piece piece = content->next(); piece.size > 0; piece = content->next()) {
      if (!file->write(piece.data, piece.size)) return fail(failureText(file->error()));
    }
  }
  const ContentOutcome outcome = size == 0
                                     ? ContentOutcome{}
                                     : contentOutcome(size, content->expected(), content->delivered(), content->end(),
                                                      archive_.container().archiveFile().fileSize());
  if (outcome.unreadable) return fail(std::string(Message::ContentUnreadable));
  // Content that stops short of the recorded size leaves a tail of zeros, made by extending the
  // file.
  if (outcome.damaged && !file->extendTo(outcome.length)) return fail(failureText(file->error()));
  file->setCreationTime(record.created);
  if (!file->commit(record.accessed, record.modified, fileFlagsOf(record))) {
    if (keep && file->error() == EEXIST) return noteKept(lane, pathInArchive);
    return fail(failureText(file->error()));
  }
  if (outcome.damaged) reportItem(lane, Message::DamagedItem, pathInArchive, std::string(outcome.why));
  return true;
}

bool Extractor::noteKept(Lane& lane, std::u16string_view pathInArchive) {
  lane.problems.emplace_back(lane.item, Problem{kKept, std::u16string(pathInArchive), {}});
  return true;
}

bool Extractor::reportItem(Lane& lane, std::string_view what, std::u16string_view pathInArchive, std::string reason) {
  lane.problems.emplace_back(lane.item, Problem{what, std::u16string(pathInArchive), std::move(reason)});
  return false;
}

void Extractor::report(Problem problem) {
  if (problem.what == kKept) {
    kept_.push_back(std::move(problem.path));
    return;
  }
  std::string line =
      itemLine(problem.what, problem.path, problem.reason, pathStyle_);  // damage is told by the line alone
  problems_.push_back(std::move(problem));
  report_(line);
}

void Extractor::reportAll(Lane& lane) {
  for (auto& [item, problem] : lane.problems) report(std::move(problem));
  lane.problems.clear();
}

void Extractor::reportAbsent(std::size_t item) {
  for (OutputPlan::Absent& absent : plan_->absentAfter(item, pathStyle_)) {
    report(Problem{Message::CannotExtract, std::move(absent.path), std::move(absent.reason)});
  }
}

}  // namespace sorvel
