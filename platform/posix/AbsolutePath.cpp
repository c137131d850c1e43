#include "platform/AbsolutePath.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

namespace sorvel {

namespace {

void appendComponents(std::string_view path, std::vector<std::string_view>& components) {
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (part == "..") {
      if (!components.empty()) components.pop_back();  // ".." of the root is the root
    } else if (!part.empty() && part != ".") {
      components.push_back(part);
    }
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace

std::string absoluteAgainst(std::string_view path, std::string_view base) {
  if (path.empty()) return {};
  std::vector<std::string_view> components;
  if (path.front() != '/') appendComponents(base, components);
  appendComponents(path, components);

  std::string result;
  for (const std::string_view part : components) {
    result += '/';
    result += part;
  }
  if (result.empty() || path.back() == '/') result += '/';
  return result;
}

std::optional<std::string> makeAbsolute(std::string_view path, int& error) {
  error = 0;
  if (path.empty() || path.front() == '/') return absoluteAgainst(path, "/");
  const std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
  if (!current) {
    error = errno;
    return std::nullopt;
  }
  return absoluteAgainst(path, current.get());
}

}  // namespace sorvel
