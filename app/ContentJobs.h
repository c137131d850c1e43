#pragma once
// The content pipeline's jobs for a listing of items, in listing order: the order in which a walk
// gives blocks to files.
#include <cstddef>
#include <functional>
#include <vector>

#include "archive/Archive.h"
#include "archive/ContentPipeline.h"

namespace sorvel {

// One job per file with content; `jobOf[i]` is item i's job, SIZE_MAX for folders and empty
// files. A file for which `read` answers false has its blocks claimed, never read.
std::vector<ContentPipeline::Job> contentJobs(const std::vector<Archive::ListedItem>& items,
                                              std::vector<std::size_t>& jobOf,
                                              const std::function<bool(const Archive::ListedItem&)>& read);

}  // namespace sorvel
