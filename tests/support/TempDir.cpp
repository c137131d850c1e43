#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace sorvel::testing {

namespace fs = std::filesystem;

namespace {

// Gives the owner full rights on every folder below `path` so that it can be listed and emptied.
void makeRemovable(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(path, ec))) return;
  ::chmod(path.c_str(), S_IRWXU);
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) makeRemovable(it->path());
}

}  // namespace

TempDir::TempDir() {
  std::error_code ec;
  const char* base = std::getenv("TMPDIR");
  fs::path pattern = fs::path(base != nullptr && *base != '\0' ? base : "/tmp") / "sorvel-test-XXXXXX";
  std::string buffer = pattern.string();
  if (::mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary folder from " << pattern;
    return;
  }
  path_ = fs::canonical(buffer, ec).string();
  if (ec) path_ = buffer;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  makeRemovable(path_);
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::file(std::string_view relative) const { return (fs::path(path_) / relative).string(); }

std::string TempDir::writeFile(std::string_view relative, std::string_view content) const {
  const fs::path target = fs::path(path_) / relative;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::ofstream stream(target, std::ios::binary | std::ios::trunc);
  stream.write(content.data(), static_cast<std::streamsize>(content.size()));
  stream.close();
  if (!stream) ADD_FAILURE() << "cannot write " << target;
  return target.string();
}

std::string TempDir::writeFile(std::string_view relative, const std::vector<std::uint8_t>& content) const {
  return writeFile(relative, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

std::string TempDir::makeDir(std::string_view relative) const {
  const fs::path target = fs::path(path_) / relative;
  std::error_code ec;
  fs::create_directories(target, ec);
  if (ec) ADD_FAILURE() << "cannot create " << target << ": " << ec.message();
  return target.string();
}

}  // namespace sorvel::testing
