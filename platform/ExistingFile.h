#pragma once
// What already stands under a name in an output folder, for callers that decide whether a file
// may replace it. It only looks, at that one name, and never follows a link.
#include <string>

#include "platform/DirectoryHandle.h"

namespace sorvel {

enum class ExistingEntry { Nothing, Folder, Other };  // Other: a file, a link or anything else

ExistingEntry existingEntry(const DirectoryHandle& folder, const std::string& name);

}  // namespace sorvel
