#include "app/OutputPlan.h"

#include <algorithm>
#include <unordered_map>

#include "app/Messages.h"
#include "app/OutputPath.h"
#include "platform/Utf16.h"
#include "tree/DetailTable.h"
#include "tree/FolderTree.h"
#include "tree/NameRules.h"

namespace sorvel {
namespace {

std::string_view shortfallOf(ChainTable::ContentEnd end) {
  switch (end) {
    case ChainTable::ContentEnd::Whole:
      return Message::BlockUnreadable;
    case ChainTable::ContentEnd::Short:
      return Message::ChainTooShort;
    case ChainTable::ContentEnd::Missing:
      return Message::ArchiveCutOff;
    case ChainTable::ContentEnd::Claimed:
      return Message::ChainRunsIntoAnother;
    case ChainTable::ContentEnd::Broken:
      return Message::ChainBroken;
  }
  return {};
}

}  // namespace

bool contentWritable(std::uint64_t size, std::uint64_t expected, ChainTable::ContentEnd end) {
  return size == 0 || expected > 0 || end == ChainTable::ContentEnd::Missing || end == ChainTable::ContentEnd::Claimed;
}

ContentOutcome contentOutcome(std::uint64_t size, std::uint64_t expected, std::uint64_t delivered,
                              ChainTable::ContentEnd end, std::uint64_t archiveSize) {
  ContentOutcome outcome;
  if (!contentWritable(size, expected, end) || (delivered == 0 && expected > 0)) {
    outcome.unreadable = true;
    return outcome;
  }
  outcome.damaged = delivered < size;
  outcome.length = outcome.damaged ? std::min(size, std::max(delivered, archiveSize)) : size;
  if (outcome.damaged) outcome.why = shortfallOf(delivered < expected ? ChainTable::ContentEnd::Whole : end);
  return outcome;
}

std::string itemLine(std::string_view what, std::u16string_view path, std::string_view reason, PathStyle style) {
  std::string line = std::string(what) + shownPath(path, style);
  if (what == Message::CannotExtract) {
    line += ": ";
    line += reason;
  }
  return line;
}

OutputPlan::OutputPlan(const Archive& archive, std::u16string_view start, const ExcludedItem& excluded)
    : archive_(archive), startPath_(start) {
  const FolderTree& tree = archive.tree();
  const TreeNode* first = tree.findNode(start);
  if (first == nullptr) return;
  start_.node = tree.indexOf(*first);

  // The tree's left-out items are told after a node of the tree: found here by node.
  std::unordered_map<NodeIndex, std::vector<const LeftOutItem*>> absentAt;
  for (const LeftOutItem& item : tree.leftOut()) {
    if (item.after != nullptr) absentAt[tree.indexOf(*item.after)].push_back(&item);
  }
  auto noteAbsent = [&](NodeIndex node, std::size_t index) {
    if (absentAt.empty()) return;
    const auto found = absentAt.find(node);
    if (found == absentAt.end()) return;
    for (const LeftOutItem* item : found->second) {
      if (excluded && excluded(item->path)) continue;
      absent_.emplace_back(index == kAfterStart ? 0 : index + 1, item);
    }
    absentAt.erase(found);
  };

  // The start's own path: every name on it judged.
  Verdict startVerdict;
  std::u16string folder;
  for (const std::u16string& name : splitPath(startPath_)) {
    startVerdict = judge(startVerdict, folder, name);
    folder += u'\\';
    folder += name;
  }
  planItem(start_, startVerdict);
  noteAbsent(start_.node, kAfterStart);
  if (!first->isFolder()) return;

  // Per depth of the walk, the verdict on the folder whose children are there: one left out
  // takes everything below it along, for the same reason.
  std::vector<Verdict> verdictAt{startVerdict};
  std::size_t lastShown = kAfterStart;  // the last item that is not an item detail file
  if (start_.node == kTreeRoot) items_.reserve(tree.nodeCount() - 1);
  walkBelow(tree, start_.node, startPath_, PathJoin::AsPrefix, [&](const WalkedItem& walked) {
    const std::u16string_view name = tree.nameOf(walked.node);
    const bool detailFile = compareNames(name, kDetailFileName) == 0;
    if (detailFile && walked.node.isFolder()) return false;  // never listed, nor anything below it
    if (!detailFile && excluded && excluded(walked.path)) return false;
    PlannedItem& item = items_.emplace_back();
    item.node = walked.index;
    item.detailFile = detailFile;
    const Verdict verdict =
        detailFile ? verdictAt[walked.depth]
                   : judge(verdictAt[walked.depth], walked.path.substr(0, walked.path.size() - name.size() - 1), name);
    planItem(item, verdict);
    // Told after the item it follows; one that follows an item detail file (never reported) is
    // told after the item before it.
    if (!detailFile) lastShown = items_.size() - 1;
    noteAbsent(walked.index, lastShown);
    if (walked.node.isFolder()) {
      verdictAt.resize(walked.depth + 2);
      verdictAt[walked.depth + 1] = verdict;
    }
    return true;
  });
}

OutputPlan::Verdict OutputPlan::judge(Verdict folder, std::u16string_view folderPath, std::u16string_view name) {
  if (folder.leftOut != LeftOutReason::None) return folder;
  if (!isSafeName(name)) return Verdict{LeftOutReason::UnsafeName, 0};
  std::optional<std::string> refusal = hostNameRefusal(name);
  if (!refusal && !hostTakesEveryName()) {
    refusal = written_.collision(folderPath, name);
    if (!refusal) written_.note(folderPath, name);
  }
  if (!refusal) return folder;
  hostReasons_.push_back(std::move(*refusal));
  return Verdict{LeftOutReason::HostRefused, static_cast<std::uint32_t>(hostReasons_.size() - 1)};
}

void OutputPlan::planItem(PlannedItem& item, Verdict verdict) {
  if (!item.detailFile) {
    item.leftOut = verdict.leftOut;
    if (verdict.leftOut == LeftOutReason::HostRefused) hostReasonOf_.emplace(item.node, verdict.hostReason);
  }
  const ItemRecord& record = recordOf(item);
  if (record.isFolder() || record.size() == 0) return;
  item.job = static_cast<JobIndex>(jobs_.size());
  jobs_.push_back({record.firstBlock(), record.size(), !item.written()});
}

bool OutputPlan::isDamagedFolder(const PlannedItem& item) const {
  const TreeNode& node = archive_.tree().node(item.node);
  return node.isFolder() && node.damaged;
}

std::u16string OutputPlan::pathOf(const PlannedItem& item) const {
  if (item.node == start_.node) return startPath_;
  return archive_.listedPath(startPath_, ListedItem{item.node, item.detailFile});
}

std::vector<std::string> OutputPlan::outputNames(std::u16string_view pathInArchive) {
  std::vector<std::string> names;
  for (const std::u16string& name : splitPath(pathInArchive)) names.push_back(toUtf8Lossy(name));
  return names;
}

std::string OutputPlan::reasonOf(const PlannedItem& item) const {
  switch (item.leftOut) {
    case LeftOutReason::None:
      return {};
    case LeftOutReason::UnsafeName:
      return std::string(Message::UnsafeName);
    case LeftOutReason::HostRefused:
      if (const auto found = hostReasonOf_.find(item.node); found != hostReasonOf_.end()) {
        return hostReasons_[found->second];
      }
      break;
  }
  return std::string(Message::UnsafeName);
}

std::vector<OutputPlan::Absent> OutputPlan::absentAfter(std::size_t index, PathStyle style) const {
  std::vector<Absent> found;
  const std::size_t key = index == kAfterStart ? 0 : index + 1;
  const auto first = std::lower_bound(absent_.begin(), absent_.end(), key,
                                      [](const auto& entry, std::size_t wanted) { return entry.first < wanted; });
  for (auto it = first; it != absent_.end() && it->first == key; ++it) {
    const LeftOutItem& item = *it->second;
    const bool sameName = item.why == LeftOutItem::Why::SameName;
    found.push_back(Absent{item.path,
                           sameName ? sameNameReason(item.namesake, style) : std::string(Message::UnsafeName),
                           sameName ? item.namesake : std::u16string()});
  }
  return found;
}

std::string OutputPlan::sameNameReason(std::u16string_view namesake, PathStyle style) {
  return std::string(Message::SameNameAs) + shownPath(namesake, style);
}

void OutputPlan::planChains(ContainerFile& container, const ChainVisit& visit) const {
  std::vector<bool> claimed = archive_.directoryBlocks();
  for (std::size_t job = 0; job < jobs_.size(); ++job) {
    const ChainTable::ContentChain chain =
        container.chainTable().planContent(jobs_[job].firstBlock, jobs_[job].wanted, claimed);
    visit(static_cast<JobIndex>(job), chain);
  }
}

std::vector<ContentOutcome> OutputPlan::plannedOutcomes(ContainerFile& container, const ChainVisit& visit) const {
  std::vector<ContentOutcome> outcomes(jobs_.size());
  const std::uint64_t archiveSize = container.archiveFile().fileSize();
  planChains(container, [&](JobIndex job, const ChainTable::ContentChain& chain) {
    outcomes[job] = contentOutcome(jobs_[job].wanted, chain.bytes, chain.bytes, chain.end, archiveSize);
    if (visit) visit(job, chain);
  });
  return outcomes;
}

OutputPlan::ItemOutcome OutputPlan::outcomeOf(const PlannedItem& item,
                                              const std::vector<ContentOutcome>& outcomes) const {
  ItemOutcome outcome{reasonOf(item)};
  if (isFolder(item)) {
    outcome.damaged = outcome.leftOut.empty() && isDamagedFolder(item);
  } else if (item.job != kNoJob && outcome.leftOut.empty()) {
    outcome.content = &outcomes[item.job];
    if (outcome.content->unreadable) outcome.leftOut = Message::ContentUnreadable;
    outcome.damaged = !outcome.content->unreadable && outcome.content->damaged;
  }
  return outcome;
}

}  // namespace sorvel
