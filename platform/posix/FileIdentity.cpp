#include "platform/FileIdentity.h"

#include <sys/stat.h>
#include <unistd.h>

namespace sorvel {
namespace {

FileIdentity identityOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileIdentity> identityOfPath(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return identityOf(info);
}

std::optional<FileIdentity> identityOfStandardOutput() {
  struct stat info {};
  if (::fstat(STDOUT_FILENO, &info) != 0) return std::nullopt;
  return identityOf(info);
}

}  // namespace sorvel
