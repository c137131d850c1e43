#pragma once
// A folder's times, set once everything inside it is written (writing into a folder changes its
// modification time).
#include <cstdint>
#include <string>

#include "platform/DirectoryHandle.h"

namespace sorvel {

// Sets the access and modification times of the folder `name` in `parent`, never following a
// symbolic link or other reparse point. 0, or the errno value of the failure.
int setFolderTimes(const DirectoryHandle& parent, const std::string& name, std::int64_t accessed,
                   std::int64_t modified);

}  // namespace sorvel
