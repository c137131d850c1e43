#pragma once
// The content pipeline's jobs for a listing of items, in listing order: the order in which a walk
// gives blocks to files.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "archive/Archive.h"
#include "archive/ContentPipeline.h"

namespace sorvel {

// An item's job in a listing's jobs: 32 bits, as the tree numbers its items.
using JobIndex = std::uint32_t;
inline constexpr JobIndex kNoJob = UINT32_MAX;

// One job per file with content; `jobOf[i]` is item i's job, kNoJob for folders and empty
// files. A file for which `read` answers false has its blocks claimed, never read.
std::vector<ContentPipeline::Job> contentJobs(const Archive& archive, const std::vector<Archive::ListedItem>& items,
                                              std::vector<JobIndex>& jobOf,
                                              const std::function<bool(const Archive::ListedItem&)>& read);

}  // namespace sorvel
