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

  auto add = [&](std::u16string path, api::ItemInfo info, Content content) {
    info.path = shownPath(path, PathStyle::Slash);
    byPath_.emplace(path, items_.size());  // of two alike, the first: the one extraction writes
    items_.push_back(std::move(info));
    contents_.push_back(std::move(content));
    archivePaths_.push_back(std::move(path));
  };
  rootDamaged_ = plan.isDamagedFolder(plan.start());
  auto addAbsent = [&](std::size_t after) {
    for (OutputPlan::Absent& absent : plan.absentAfter(after, PathStyle::Archive)) {
      if (!absent.namesake.empty()) namesakes_.emplace_back(items_.size(), std::move(absent.namesake));
      api::ItemInfo info;
      info.kind = api::ItemKind::Unknown;
      info.leftOut = true;
      info.leftOutReason = std::move(absent.reason);
      add(std::move(absent.path), std::move(info), {});
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
      Content content;
      if (outcome.content != nullptr) {
        const ChainTable::ContentChain& chain = chains[item.job];
        info.damage = outcome.content->why;
        info.outputSize = outcome.content->length;
        info.readableSize = std::min(chain.bytes, outcome.content->length);
        std::uint64_t start = 0;
        for (const Extent& extent : chain.extents) {
          content.extents.push_back(extent);
          content.starts.push_back(start);
          start += extent.blockCount();
        }
      }
      add(plan.pathOf(item), std::move(info), std::move(content));
    }
    addAbsent(i);
  }
}

std::string ItemTable::leftOutReason(std::size_t index, PathStyle style) const {
  const auto it = std::lower_bound(namesakes_.begin(), namesakes_.end(), index,
                                   [](const auto& entry, std::size_t wanted) { return entry.first < wanted; });
  if (it != namesakes_.end() && it->first == index) return OutputPlan::sameNameReason(it->second, style);
  return items_[index].leftOutReason;
}

std::optional<std::size_t> ItemTable::find(std::string_view path) const {
  const auto found = byPath_.find(archivePathOf(path));
  if (found == byPath_.end()) return std::nullopt;
  return found->second;
}

ItemTable::BlockRun ItemTable::runAt(const Content& content, std::uint64_t offset) {
  const std::uint64_t index = offset / kBlockSize;
  const auto it = std::upper_bound(content.starts.begin(), content.starts.end(), index);
  if (it == content.starts.begin()) return {};
  const std::size_t run = static_cast<std::size_t>(it - content.starts.begin()) - 1;
  const Extent& extent = content.extents[run];
  const std::uint64_t within = index - content.starts[run];
  if (within >= extent.blockCount()) return {};
  return {static_cast<std::uint32_t>(extent.first + within), extent.blockCount() - within};
}

}  // namespace sorvel::lib
