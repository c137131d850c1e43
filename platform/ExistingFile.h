#pragma once
// What already stands under a name in an output folder, for callers that decide whether a file
// may replace it. Every call looks at that one name and never follows a link.
#include <string>

#include "platform/DirectoryHandle.h"

namespace sorvel {

// True when anything (a file, folder or link) stands at `name` in `folder`.
bool entryExists(const DirectoryHandle& folder, const std::string& name);
// Makes a read-only file at `name` writable again (the owner's write permission, or the
// read-only attribute on Windows), so that a new file may replace it; anything else is left as
// it is. 0, or the errno value of the failure.
int clearReadOnly(const DirectoryHandle& folder, const std::string& name);

}  // namespace sorvel
