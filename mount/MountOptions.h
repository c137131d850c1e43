#pragma once
// The `-o` options of `sorvel mount`: the ones FUSE file systems usually take, each checked here
// so that a wrong one is refused by name before anything is asked or mounted. The mount is always
// read-only, checks permissions in the kernel and goes by itself when the program ends (killed
// too), so `ro`, `default_permissions` and `auto_unmount` are taken and change nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorvel::mount {

struct MountOptions {
  bool allowOther = false;
  std::optional<std::uint32_t> uid;  // the owner shown; default: whoever mounted
  std::optional<std::uint32_t> gid;
  std::uint32_t umask = 0;            // taken from the modes 0755 (folders), 0644 and 0444 (files)
  std::optional<std::string> fsname;  // the name `mount` and `df` show; default: the archive's path
};

enum class OptionVerdict { Taken, Unknown, BadValue };

// Adds the comma-separated options of one `-o` to `options`. At the first option that is unknown
// or has a bad value (a value it does not take, none where it needs one), that verdict, with
// `bad` set to the option as written.
OptionVerdict addMountOptions(std::string_view text, MountOptions& options, std::string& bad);

// The options libfuse mounts with: always read-only, kernel permission checks, unmounted when the
// program ends, the subtype "sorvel", and the file system's name (`fsname`, else `archivePath`).
std::string fuseOptionText(const MountOptions& options, const std::string& archivePath);

}  // namespace sorvel::mount
