#pragma once
// What extraction makes of an item of an opened archive and everything below it, decided once for
// every program that writes, tests, lists, exports or mounts it: in listing order, which items
// are written and which are left out and why, the names they are written under, and what a
// file's content comes to. Every program reads this plan, so all give the same answer about the
// same archive.
//
// Content is planned as the pipeline reads it: in listing order, the directories' blocks and
// every earlier file's (item detail files and left-out items included) claimed. ChainTable's
// planContent, asked in that order, gives each file the same chain wherever it is asked:
// `jobs()` are those requests, and `planChains` asks them for programs that read no content.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/ContentJobs.h"
#include "app/ShownPath.h"
#include "archive/Archive.h"
#include "archive/ChainTable.h"
#include "archive/ContentPipeline.h"
#include "platform/HostNames.h"

namespace sorvel {

// Why an item is not written.
enum class LeftOutReason : std::uint8_t {
  None,         // it is written
  UnsafeName,   // a name on its path is "." or "..", or holds "/"
  HostRefused,  // the host cannot hold a name on its path, or takes it for one written before
};

struct PlannedItem {
  NodeIndex node = kNoNode;
  JobIndex job = kNoJob;    // its content's job; kNoJob for folders and empty files
  bool detailFile = false;  // its blocks are claimed; it is never written, shown or reported
  LeftOutReason leftOut = LeftOutReason::None;

  bool written() const { return !detailFile && leftOut == LeftOutReason::None; }
};

// What a file's content comes to, from what its chain holds and what reading it delivered.
struct ContentOutcome {
  bool unreadable = false;   // nothing of it can be read: the file is not written
  bool damaged = false;      // less than the recorded size came
  std::uint64_t length = 0;  // the written file's length: the content, then a tail of zeros
  std::string_view why;      // for a damaged file: why its content ends early
};

// The rule for a file of `size` bytes whose chain holds `expected` of them (ending as `end`
// says) and whose reading delivered `delivered`. A damaged file's zero tail stops at the archive
// file's size: content is stored as it is, so no file is larger than the archive that holds it.
// A file whose first block lies past the end of the archive file or is another item's is
// damaged like any cut-off file; one whose chain is broken or free holds nothing to write.
ContentOutcome contentOutcome(std::uint64_t size, std::uint64_t expected, std::uint64_t delivered,
                              ChainTable::ContentEnd end, std::uint64_t archiveSize);
// Before any reading: false when the chain holds nothing that could be written.
bool contentWritable(std::uint64_t size, std::uint64_t expected, ChainTable::ContentEnd end);

// The line that tells an item's outcome, "<what><path>", with ": <reason>" for an item not
// written (Message::CannotExtract): the same line from every program, the path in its style.
std::string itemLine(std::string_view what, std::u16string_view path, std::string_view reason, PathStyle style);

// Answers, for the in-archive path of an item below the start, whether the user excluded it; an
// item excluded takes everything below it along.
using ExcludedItem = std::function<bool(std::u16string_view path)>;

class OutputPlan {
 public:
  // Plans the item at `start` and, for a folder, everything below it but the items `excluded`
  // names: those are no part of the plan, as items outside the start are none. `start` must
  // exist.
  OutputPlan(const Archive& archive, std::u16string_view start, const ExcludedItem& excluded = {});

  // The item at `start`, then (for a folder) every item below it in listing order.
  const PlannedItem& start() const { return start_; }
  const std::vector<PlannedItem>& items() const { return items_; }
  // One job per file with content, in listing order; left-out files and item detail files
  // claim their blocks and are not read.
  const std::vector<ContentPipeline::Job>& jobs() const { return jobs_; }

  const FolderTree& tree() const { return archive_.tree(); }
  const ItemRecord& recordOf(const PlannedItem& item) const { return archive_.tree().node(item.node).record; }
  bool isFolder(const PlannedItem& item) const { return recordOf(item).isFolder(); }
  bool isDamagedFolder(const PlannedItem& item) const;
  // The item's path in the archive ("\docs\a.txt").
  std::u16string pathOf(const PlannedItem& item) const;
  // The names an item of this path (pathOf) is written under, below the output folder: its full
  // path from the root.
  static std::vector<std::string> outputNames(std::u16string_view pathInArchive);
  // Why a left-out item is not written, as extraction reports it.
  std::string reasonOf(const PlannedItem& item) const;

  // An item that has no place in the tree (see LeftOutItem), reported as not written.
  struct Absent {
    std::u16string path;
    std::string reason;
    std::u16string namesake;  // the item it shares its name with, if that is why
  };
  // The reason of an item left out for sharing its name with `namesake`, shown in `style`.
  static std::string sameNameReason(std::u16string_view namesake, PathStyle style);
  // Those told right after the start item (kAfterStart) or after items()[index]; a path in a
  // reason is in `style`.
  static constexpr std::size_t kAfterStart = SIZE_MAX;
  std::vector<Absent> absentAfter(std::size_t index, PathStyle style) const;

  // Plans every job's chain in order and calls visit(job, chain) for each.
  using ChainVisit = std::function<void(JobIndex job, const ChainTable::ContentChain& chain)>;
  void planChains(ContainerFile& container, const ChainVisit& visit) const;
  // What extraction makes of each job's content, by job, from its planned chain (no content is
  // read); `visit`, when given, sees each chain as well.
  std::vector<ContentOutcome> plannedOutcomes(ContainerFile& container, const ChainVisit& visit = {}) const;

  // What extraction makes of a planned item whose content, if it has any, comes to
  // `outcomes[item.job]` (plannedOutcomes): why it is left out (empty when it is written), and
  // whether it is damaged: a file whose content ends early, a folder whose directory is damaged.
  struct ItemOutcome {
    std::string leftOut;
    bool damaged = false;
    const ContentOutcome* content = nullptr;  // a file's not left out for its name or place
  };
  ItemOutcome outcomeOf(const PlannedItem& item, const std::vector<ContentOutcome>& outcomes) const;

 private:
  // Whether an item is left out, and why; its folder's verdict goes to everything below it.
  struct Verdict {
    LeftOutReason leftOut = LeftOutReason::None;
    std::uint32_t hostReason = 0;  // HostRefused: the index of its reason in hostReasons_
  };
  // The verdict on the name `name` in the folder at `folderPath`, whose verdict is `folder`.
  Verdict judge(Verdict folder, std::u16string_view folderPath, std::u16string_view name);
  void planItem(PlannedItem& item, Verdict verdict);

  const Archive& archive_;
  std::u16string startPath_;
  PlannedItem start_;
  std::vector<PlannedItem> items_;
  std::vector<ContentPipeline::Job> jobs_;
  // The host's reasons for the items it cannot hold, and the reason of each such item.
  std::vector<std::string> hostReasons_;
  std::unordered_map<NodeIndex, std::uint32_t> hostReasonOf_;
  // The tree's left-out items, by the index of the item they are told after plus one (0: the
  // start item), in that order.
  std::vector<std::pair<std::size_t, const LeftOutItem*>> absent_;
  WrittenNames written_;
};

}  // namespace sorvel
