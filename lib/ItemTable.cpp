#include "lib/ItemTable.h"

#include <algorithm>
#include <utility>

#include "app/Messages.h"
#include "app/OutputPlan.h"
#include "app/ShownPath.h"
#include "platform/Utf16.h"

namespace sorvel::lib {

std::u16string archivePathOf(std::string_view shown) {
  while (!shown.empty() && (shown.front() == '/' || shown.front() == '\\')) shown.remove_prefix(1);
  std::u16string path = u"\\" + toUtf16(shown);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  return stripTrailingSeparators(path);
}

void ItemTable::build(Archive& archive) {
  const OutputPlan plan(archive, kRootPath);
  std::vector<ChainTable::ContentChain> chains(plan.jobs().size());
  const std::vector<ContentOutcome> outcomes =
      plan.plannedOutcomes(archive.container(), [&](JobIndex job, const ChainTable::ContentChain& chain) {
        if (!plan.jobs()[job].claimOnly) chains[job] = chain;
      });

  auto add = [&](std::u16string path, api::ItemInfo info) {
    info.path = shownPath(path, PathStyle::Slash);
    items_.push_back(std::move(info));
    firstRun_.push_back(extents_.size());
    archivePaths_.push_back(std::move(path));
  };
  items_.reserve(plan.items().size());
  firstRun_.reserve(plan.items().size() + 1);
  archivePaths_.reserve(plan.items().size());
  rootDamaged_ = plan.isDamagedFolder(plan.start());
  auto addAbsent = [&](std::size_t after) {
    for (OutputPlan::Absent& absent : plan.absentAfter(after, PathStyle::Archive)) {
      if (!absent.namesake.empty()) namesakes_.emplace_back(items_.size(), std::move(absent.namesake));
      api::ItemInfo info;
      info.kind = api::ItemKind::Unknown;
      info.leftOut = true;
      info.leftOutReason = std::move(absent.reason);
      add(std::move(absent.path), std::move(info));
    }
  };
  addAbsent(OutputPlan::kAfterStart);
  for (std::size_t i = 0; i < plan.items().size(); ++i) {
    const PlannedItem& item = plan.items()[i];
    if (!item.detailFile) {
      const ItemRecord& record = plan.recordOf(item);
      api::ItemInfo info;
      info.kind = record.isFolder() ? api::ItemKind::Folder : api::ItemKind::File;
      info.size = record.isFolder() ? 0 : record.size();
      info.created = record.created;
      info.modified = record.modified;
      info.accessed = record.accessed;
      info.attributes = record.attributes();
      const OutputPlan::ItemOutcome outcome = plan.outcomeOf(item, outcomes);
      info.leftOutReason = outcome.leftOut;
      info.leftOut = !outcome.leftOut.empty();
      info.damaged = outcome.damaged;
      if (outcome.content != nullptr) {
        const ChainTable::ContentChain& chain = chains[item.job];
        info.damage = outcome.content->why;
        info.outputSize = outcome.content->length;
        info.readableSize = std::min(chain.bytes, outcome.content->length);
      }
      add(plan.pathOf(item), std::move(info));
      if (outcome.content != nullptr) {
        std::uint64_t start = 0;
        for (const Extent& extent : chains[item.job].extents) {
          extents_.push_back(extent);
          starts_.push_back(start);
          start += extent.blockCount();
        }
      }
    }
    addAbsent(i);
  }
  firstRun_.push_back(extents_.size());
  // Of two paths alike, the first: the one extraction writes.
  byPath_.resize(items_.size());
  for (std::size_t i = 0; i < byPath_.size(); ++i) byPath_[i] = i;
  std::stable_sort(byPath_.begin(), byPath_.end(),
                   [&](std::size_t a, std::size_t b) { return compareNames(archivePaths_[a], archivePaths_[b]) < 0; });
}

std::string ItemTable::leftOutReason(std::size_t index, PathStyle style) const {
  const auto it = std::lower_bound(namesakes_.begin(), namesakes_.end(), index,
                                   [](const auto& entry, std::size_t wanted) { return entry.first < wanted; });
  if (it != namesakes_.end() && it->first == index) return OutputPlan::sameNameReason(it->second, style);
  return items_[index].leftOutReason;
}

std::optional<std::size_t> ItemTable::find(std::string_view path) const {
  const std::u16string wanted = archivePathOf(path);
  const auto found = std::lower_bound(byPath_.begin(), byPath_.end(), wanted, [&](std::size_t index, const auto& key) {
    return compareNames(archivePaths_[index], key) < 0;
  });
  if (found == byPath_.end() || compareNames(archivePaths_[*found], wanted) != 0) return std::nullopt;
  return *found;
}

ItemTable::BlockRun ItemTable::runAt(const Content& content, std::uint64_t offset) {
  const std::uint64_t index = offset / kBlockSize;
  const std::uint64_t* it = std::upper_bound(content.starts, content.starts + content.runs, index);
  if (it == content.starts) return {};
  const std::size_t run = static_cast<std::size_t>(it - content.starts) - 1;
  const Extent& extent = content.extents[run];
  const std::uint64_t within = index - content.starts[run];
  if (within >= extent.blockCount()) return {};
  return {static_cast<std::uint32_t>(extent.first + within), extent.blockCount() - within};
}

}  // namespace sorvel::lib
