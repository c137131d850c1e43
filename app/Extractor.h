#pragma once
// Writes an archive's folders and files below an output folder: folders as directories, files
// with their content, times and read-only attribute. The walk goes on past every item that
// fails, and reports each one through `report`, in listing order.
//
// A walk over many files writes them on two threads: the listing is cut into runs of files of
// one folder, which the writers take in turn, while the calling thread makes the folders (each
// before the runs below it are handed out) and reports every item's outcome in listing order.
//
// Every folder is reached from the output folder one name at a time, never through a symbolic
// link, and files are created inside their open folder: nothing is written outside the output
// folder, whatever it already holds.
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/OutputPlan.h"
#include "archive/Archive.h"
#include "archive/ContentPipeline.h"
#include "archive/ContentSource.h"
#include "platform/FileWriter.h"
#include "platform/HostNames.h"
#include "platform/OutputFolders.h"

namespace sorvel {

class Extractor {
 public:
  using ReportLine = std::function<void(const std::string& line)>;

  // One item reported: the line's leading words, the item, and why (printed at the end of a
  // can-not-extract line; a damage line leaves it out).
  struct Problem {
    std::string_view what;
    std::u16string path;
    std::string reason;
  };

  Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline = {});

  // Extracts the item at `pathInArchive` and, for a folder, everything below it, in listing
  // order. Answers the result for the starting item alone: true for a folder found, a file
  // written.
  bool extract(std::u16string_view pathInArchive, const std::string& outputFolder);
  // The same for a plan made beforehand (of this extractor's archive).
  bool extract(const OutputPlan& plan, const std::string& outputFolder);

  // The same for an item that lands at its full path below the output folder: the output folder
  // and the folders above the item are made first. When they cannot be, the item is reported as
  // not extracted and nothing is written.
  bool extractAtFullPath(std::u16string_view pathInArchive, const std::string& outputFolder);
  bool extractAtFullPath(const OutputPlan& plan, const std::string& outputFolder);

  // True once any item was reported as not written or damaged.
  bool reportedProblems() const { return !problems_.empty(); }
  const std::vector<Problem>& problems() const { return problems_; }

  // What happens to a file of the same name already in the output tree: replaced, read-only ones
  // too (the default); replaced unless it is read-only, which is then reported as not extracted;
  // or kept as it is, which is no problem: the file's path is noted in `kept()`. A folder in the
  // way is reported under every policy.
  using ExistingFiles = sorvel::ExistingFiles;
  void setExistingFiles(ExistingFiles policy) { existingFiles_ = policy; }
  // The files kept as they were, in listing order.
  const std::vector<std::u16string>& kept() const { return kept_; }

  // How the lines show an item's path (by default the archive's own form, "\docs\a.txt").
  void setPathStyle(PathStyle style) { pathStyle_ = style; }

  // Whether folders get the archive's times once everything inside them is written (by default
  // they keep the times their making gave them).
  void giveFoldersTheirTimes(bool keep) { folderTimes_ = keep; }

  // Called after each item of a walk with its path, on the calling thread and in listing order,
  // once the item's lines are reported; tests change the output tree there. With two writers
  // the folders may be made, and files written, ahead of it.
  void setAfterItem(std::function<void(std::u16string_view pathInArchive)> hook) { afterItem_ = std::move(hook); }

  // Looked at before each item of a walk: once it is set, no further item is begun (a file being
  // written is finished, unless its write call refuses). The walk then ends; the items it did not
  // write are not reported.
  void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

  // How many threads write the files of a walk (1 or 2), from how many files on, and how many
  // files of one folder a run holds at most (a folder's files are cut into runs of about equal
  // length, each also within a quarter of the pipeline's slots; two writers need two runs).
  // Hosts that take different names for the same one (Windows) write with one: which of two
  // such names is written depends on the order of writing.
  struct Writers {
    unsigned count = 2;
    std::size_t minFiles = 128;
    std::size_t filesPerRun = 128;
  };
  void setWriters(Writers writers) { writers_ = writers; }

  // How the writer threads are started, and how the files' content is written (FileWriter's
  // write call); tests substitute them to see a start fail or a writer throw. A writer that
  // cannot start leaves the walk to one; one that throws stops both, and every item not
  // written is reported, the one it was on with the failure.
  using StartThread = std::function<std::thread(std::function<void()> body)>;
  void setStartThread(StartThread start) { startThread_ = std::move(start); }
  void setWriteCall(FileWriter::WriteCall writeCall) { writeCall_ = std::move(writeCall); }

 private:
  // What one writing thread keeps: its own open folders, and the problems of the items it
  // wrote that are not reported yet, each with its item's place in the listing.
  struct Lane {
    OutputFolders folders;
    std::size_t item = 0;
    std::vector<std::pair<std::size_t, Problem>> problems;
  };
  // Items of the listing handled together: a folder, by the calling thread, or a run of files
  // of one folder, by a writer, with the jobs [firstJob, endJob) of their content.
  struct Unit {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t firstJob = SIZE_MAX;
    std::size_t endJob = 0;
    bool folder = false;
    bool done = false;
    std::size_t stoppedAt = SIZE_MAX;  // the first item not handled, where the walk stopped within
    std::vector<std::pair<std::size_t, Problem>> problems;
  };

  bool walk(const OutputPlan& plan);
  // Makes the output folder and the folders above an item that lands at its full path below it;
  // false, the item reported as not extracted with why, when one cannot be made. An empty or
  // unsafe path makes nothing.
  bool makeFoldersAbove(std::u16string_view pathInArchive, const std::string& outputFolder);
  // Gives the walk's folders their times from the archive; those that were not made are passed.
  void setTimesOfFolders(const OutputPlan& plan);
  bool writeItem(Lane& lane, const PlannedItem& item, ContentSource* content);
  bool writeFolder(Lane& lane, const PlannedItem& item, std::u16string_view pathInArchive,
                   const std::vector<std::string>& names);
  bool writeFile(Lane& lane, std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content,
                 const std::vector<std::string>& names);
  // The walk below the starting folder on two writers, cut into `units` (none where the host
  // needs one writer); `useWriters` says whether that pays.
  std::vector<Unit> unitsOf(const std::vector<PlannedItem>& items) const;
  bool useWriters(const std::vector<PlannedItem>& items, const std::vector<Unit>& units) const;
  // False when the writers could not start: nothing is written then.
  bool walkInParallel(const std::vector<PlannedItem>& items, ContentPipeline& pipeline, std::vector<Unit>& units);
  struct Handout;
  // A writer thread: takes the runs of files handed out, one at a time, until none is left or the
  // walk stops; one that throws stops the walk and leaves the failure to the calling thread.
  void runWriter(Handout& walk, ContentPipeline& pipeline);
  // Writes the files of one run, up to where the walk stops.
  void writeRun(Lane& lane, Unit& unit, Handout& walk, ContentPipeline& pipeline);
  // The calling thread's part: makes each folder before the runs after it are handed out, and
  // reports the units done meanwhile.
  void handOutUnits(Handout& walk);
  // Reports the units done, in listing order, each once those before it are (waiting for them
  // with `wait`, until the walk stops); a unit the writers stopped in waits until both are gone.
  void reportFinishedUnits(Handout& walk, bool wait);
  // After the writers stopped: every item of `units` from `from` on that was not handled becomes
  // a problem of its unit, the first from `failedItem` on with `failure`, the others as stopped.
  void noteNotWritten(const std::vector<PlannedItem>& items, std::vector<Unit>& units, std::size_t from,
                      std::size_t failedItem, const std::string& failure) const;
  const ItemRecord& recordOf(const PlannedItem& item) const;
  // Reports the problems of item `item` (from `next` on in `problems`) and what the tree left
  // out after it, then calls the hook.
  void finishItem(std::vector<std::pair<std::size_t, Problem>>& problems, std::size_t& next, std::size_t item);
  // Notes a problem of the lane's item, to be reported in listing order.
  static bool reportItem(Lane& lane, std::string_view what, std::u16string_view pathInArchive, std::string reason);
  void report(Problem problem);
  void reportAll(Lane& lane);
  // Reports the items the tree left out that are told right after item `item` of the plan.
  void reportAbsent(std::size_t item);
  // Notes a file kept as it was, to be told in listing order with the lane's problems.
  static bool noteKept(Lane& lane, std::u16string_view pathInArchive);

  Archive& archive_;
  const OutputPlan* plan_ = nullptr;  // the walk in progress's
  ReportLine report_;
  ContentPipeline::Options pipelineOptions_;
  std::string outputBase_;
  Lane main_;  // the calling thread's
  Writers writers_;
  std::vector<Problem> problems_;
  std::vector<std::u16string> kept_;
  std::function<void(std::u16string_view)> afterItem_;
  StartThread startThread_;
  FileWriter::WriteCall writeCall_;
  ExistingFiles existingFiles_ = ExistingFiles::ReplaceAll;
  bool folderTimes_ = false;  // folders get the archive's times
  const std::atomic<bool>* stop_ = nullptr;
  bool stopRequested() const { return stop_ != nullptr && stop_->load(); }
  PathStyle pathStyle_ = PathStyle::Archive;
};

}  // namespace sorvel
