#include "app/ContentJobs.h"

#include <cstdint>

namespace sorvel {

std::vector<ContentPipeline::Job> contentJobs(const Archive& archive, const std::vector<Archive::ListedItem>& items,
                                              std::vector<JobIndex>& jobOf,
                                              const std::function<bool(const Archive::ListedItem&)>& read) {
  jobOf.assign(items.size(), kNoJob);
  std::vector<ContentPipeline::Job> jobs;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ItemRecord& record = archive.listedRecord(items[i]);
    if (record.isFolder() || record.size() == 0) continue;
    jobOf[i] = static_cast<JobIndex>(jobs.size());
    jobs.push_back({record.firstBlock(), record.size(), !read(items[i])});
  }
  return jobs;
}

}  // namespace sorvel
