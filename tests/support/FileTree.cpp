#include "support/FileTree.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace sorvel::testing {

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> listTree(const std::filesystem::path& root) {
  std::vector<std::string> entries;
  if (!std::filesystem::exists(root)) return entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string rel = std::filesystem::relative(entry.path(), root).string();
    if (entry.is_directory()) rel += "/";
    entries.push_back(rel);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace sorvel::testing
