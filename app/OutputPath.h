#pragma once
// Where an in-archive item lands on disk, and whether it may land there at all.
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

// True when no component of the in-archive path could lead outside its folder or into another
// one: no "." or "..", no "/" inside a name. Names of three dots or more are ordinary.
bool isSafeItemPath(std::u16string_view pathInArchive);
// The same for one name.
bool isSafeName(std::u16string_view name);

// The output folder without trailing slashes; "/" stays "/".
std::string stripTrailingSlashes(std::string_view folder);

}  // namespace sorvel
