#pragma once
// Where an in-archive item lands on disk, and whether it may land there at all.
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

// True when no component of the in-archive path could lead outside its folder or into another
// one: no "." or "..", no "/" inside a name. Names of three dots or more are ordinary.
bool isSafeItemPath(std::u16string_view pathInArchive);

// The output path of an item: `outputBase` (trailing separators already removed), one "/", then
// the in-archive path without its leading `skip` units, backslashes turned into "/". An empty
// base stands for the current folder. Names are written in UTF-8 exactly as stored, never
// normalised.
std::string outputPathFor(std::string_view outputBase, std::u16string_view pathInArchive, std::size_t skip);

// The output folder without trailing slashes; "/" stays "/".
std::string stripTrailingSlashes(std::string_view folder);

}  // namespace sorvel
