#pragma once
// The help of `sorvel mount`, which both `sorvel help mount` and `sorvel mount --help` show.
#include <string_view>

namespace sorvel {

inline constexpr std::string_view kMountHelp =
    "Usage: sorvel mount [-f] [-o OPTION[,OPTION...]] [--cache-size MiB] ARCHIVE MOUNTPOINT\n"
    "Shows the archive as a read-only file system at MOUNTPOINT (Linux, FUSE 3), a folder that\n"
    "is not a mount point already. Returns once the mount is ready; unmount with\n"
    "'fusermount3 -u MOUNTPOINT'. The mount goes by itself when the program ends, killed or not.\n"
    "  -f                  stay in the foreground; Ctrl-C unmounts\n"
    "      --cache-size N  mebibytes of decrypted blocks kept (default 32)\n"
    "  -o OPTION[,...]     mount options:\n"
    "       allow_other    other users may enter (others than root: user_allow_other in\n"
    "                      /etc/fuse.conf)\n"
    "       uid=N, gid=N   the owner and group shown (default: whoever mounted)\n"
    "       umask=M        the octal M taken from the modes extraction gives: 0755 (folders),\n"
    "                      0644 (files) and 0444 (read-only files)\n"
    "       fsname=NAME    the name mount and df show (default: the archive's absolute path)\n"
    "       ro, auto_unmount, default_permissions  always on\n"
    "Exit codes: 0 mounted (with -f: unmounted cleanly), 1 usage error, 2 the mount point, the\n"
    "mount or the password source failed, and 3, 6, 7, 8, 9, 10 as for the other commands.\n";

}  // namespace sorvel
