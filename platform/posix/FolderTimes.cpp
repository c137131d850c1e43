#include "platform/FolderTimes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/ArchiveTime.h"

namespace sorvel {

int setFolderTimes(const DirectoryHandle& parent, const std::string& name, std::int64_t accessed,
                   std::int64_t modified) {
  const timespec times[2] = {archiveTimeToTimespec(accessed), archiveTimeToTimespec(modified)};
  return ::utimensat(static_cast<int>(parent.handle()), name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

}  // namespace sorvel
