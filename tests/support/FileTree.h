#pragma once
// What a test finds on disk: a file's bytes as text, and the entries of a folder tree.
#include <filesystem>
#include <string>
#include <vector>

namespace sorvel::testing {

// The whole file; empty when it cannot be read.
std::string readText(const std::filesystem::path& path);

// Every entry below `root`, as sorted relative paths, folders marked with a trailing '/'; none
// when `root` does not exist.
std::vector<std::string> listTree(const std::filesystem::path& root);

}  // namespace sorvel::testing
