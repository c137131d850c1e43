#include "sorvel/ItemWalk.h"

#include "archive/ContentReader.h"
#include "platform/Utf16.h"
#include "tree/DetailTable.h"
#include "tree/FolderTree.h"
#include "tree/NameRules.h"

namespace sorvel::tool {

void ContentWalk::run(const OutputPlan& plan, const Visits& visits) {
  auto tellAbsent = [&](std::size_t index) {
    for (const OutputPlan::Absent& absent : plan.absentAfter(index, PathStyle::Slash)) visits.absent(absent);
  };
  const PlannedItem& first = plan.start();
  const ItemRecord& start = plan.recordOf(first);
  const std::u16string startPath = plan.pathOf(first);
  if (!start.isFolder()) {
    const bool read = first.written() && start.size() > 0;
    // A file of more than one batch is decrypted ahead on the pipeline's threads while the caller
    // writes; a smaller one on the calling thread, which costs no thread start.
    if (read && start.size() > std::uint64_t{pipeline_.blocksPerBatch} * kBlockSize) {
      const ContentPipeline::Job job{.firstBlock = start.firstBlock(), .wanted = start.size()};
      ContentPipeline pipeline(archive_.container(), {job}, pipeline_, archive_.directoryBlocks());
      visits.item(Item{startPath, first, start, &pipeline.job(0)});
    } else {
      ContentReader content(archive_.container(), start.firstBlock(), start.size(), archive_.directoryBlocks());
      visits.item(Item{startPath, first, start, read ? &content : nullptr});
    }
    tellAbsent(OutputPlan::kAfterStart);
    return;
  }
  visits.item(Item{startPath, first, start, nullptr});
  tellAbsent(OutputPlan::kAfterStart);

  const std::vector<PlannedItem>& items = plan.items();
  const std::vector<ContentPipeline::Job>& jobs = plan.jobs();
  ContentPipeline pipeline(archive_.container(), jobs, pipeline_, archive_.directoryBlocks());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const PlannedItem& item = items[i];
    if (item.detailFile) continue;
    const bool read = item.job != kNoJob && !jobs[item.job].claimOnly;
    const std::u16string path = plan.pathOf(item);
    visits.item(Item{path, item, plan.recordOf(item), read ? &pipeline.job(item.job) : nullptr});
    tellAbsent(i);
  }
}

ContentRead readWhole(ContentSource* content, std::uint64_t size,
                      const std::function<bool(const std::uint8_t* data, std::size_t size)>& sink) {
  ContentRead result;
  if (content != nullptr) {
    for (ContentSource::Piece piece = content->next(); piece.size > 0; piece = content->next()) {
      if (!sink(piece.data, piece.size)) {
        content->abandon();
        break;
      }
    }
    result.delivered = content->delivered();
  }
  result.damaged = result.delivered < size;
  return result;
}

}  // namespace sorvel::tool
