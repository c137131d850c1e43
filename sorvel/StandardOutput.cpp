#include "sorvel/StandardOutput.h"

#include <cerrno>
#include <cstdio>

namespace sorvel::tool {
namespace {

int firstError = 0;

}  // namespace

bool writeOut(const void* data, std::size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, stdout) != size && firstError == 0) firstError = errno != 0 ? errno : EIO;
  return firstError == 0;
}

bool writeOut(std::string_view text) { return writeOut(text.data(), text.size()); }

bool flushOut() {
  if (std::fflush(stdout) != 0 && firstError == 0) firstError = errno != 0 ? errno : EIO;
  return firstError == 0;
}

int standardOutputError() { return firstError; }

int finishStandardOutput() {
  flushOut();
  if (std::ferror(stdout) && firstError == 0) firstError = EIO;
  return firstError;
}

}  // namespace sorvel::tool
