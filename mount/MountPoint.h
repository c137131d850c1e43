#pragma once
// Whether a folder can take the mount, judged before the password is asked for: it must exist,
// be a folder, and not be a mount point already (a second mount on one folder would hide the
// first; a dead one answers every call with "Transport endpoint is not connected").
#include <optional>
#include <string>

namespace sorvel::mount {

// Nothing when `path` (absolute) can take the mount; else why not: the system's reason when it
// cannot be looked at, "not a folder" or "already a mount point".
std::optional<std::string> mountPointProblem(const std::string& path);

// Sets how far the kernel reads ahead of sequential readers of the mount at `realPath` (as
// realpath gives it), which also bounds the size of each read it sends the file system. Only the
// superuser may; false when it was not set.
bool setMountReadAhead(const std::string& realPath, unsigned kibibytes);

}  // namespace sorvel::mount
