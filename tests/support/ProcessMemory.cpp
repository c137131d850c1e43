#include "support/ProcessMemory.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/Utf16.h"

namespace sorvel::testing {
namespace {

struct Region {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::string name;
};

std::vector<Region> readableRegions(pid_t pid) {
  std::vector<Region> regions;
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  for (std::string line; std::getline(maps, line);) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device, inode;
    Region region;
    fields >> range >> permissions >> offset >> device >> inode;
    std::getline(fields >> std::ws, region.name);
    if (permissions.empty() || permissions[0] != 'r') continue;
    if (std::sscanf(range.c_str(), "%" SCNx64 "-%" SCNx64, &region.start, &region.end) != 2) continue;
    if (region.name.empty()) region.name = "[anonymous]";
    regions.push_back(std::move(region));
  }
  return regions;
}

std::string asUtf16(std::string_view utf8) {
  std::string out;
  for (const char16_t unit : toUtf16(utf8)) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

// The bytes around a find, printable ones as they are and the others as \xNN.
std::string around(const std::string& bytes, std::ptrdiff_t at, std::size_t length) {
  constexpr std::ptrdiff_t kContext = 24;
  const std::ptrdiff_t from = std::max<std::ptrdiff_t>(0, at - kContext);
  const std::ptrdiff_t to = std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(bytes.size()),
                                                     at + static_cast<std::ptrdiff_t>(length) + kContext);
  std::string out;
  for (std::ptrdiff_t i = from; i < to; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out.push_back(static_cast<char>(byte));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

// Memory is read a window at a time, and mappings larger than any program's data are passed over.
constexpr std::uint64_t kWindow = std::uint64_t{4} << 20;
constexpr std::uint64_t kLargestRegion = std::uint64_t{64} << 30;

}  // namespace

std::vector<std::string> findInProcessMemory(pid_t pid, std::string_view text, std::size_t* regionsRead) {
  std::vector<std::string> found;
  if (regionsRead != nullptr) *regionsRead = 0;
  const int memory = ::open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
  if (memory < 0) return found;
  const std::string forms[][2] = {{"utf8", std::string(text)}, {"utf16", asUtf16(text)}};
  const std::size_t overlap = forms[1][1].size();  // the longer form: a find across two windows is seen whole
  std::string bytes;
  for (const Region& region : readableRegions(pid)) {
    // A sanitizer's shadow memory is one mapping of terabytes, nearly all of it never touched;
    // no data of the program lies there.
    if (region.end - region.start > kLargestRegion) continue;
    bool read = false;
    for (std::uint64_t start = region.start; start < region.end;) {
      const std::uint64_t length = std::min<std::uint64_t>(kWindow, region.end - start);
      bytes.resize(static_cast<std::size_t>(length));
      const ssize_t n = ::pread(memory, bytes.data(), bytes.size(), static_cast<off_t>(start));
      if (n <= 0) break;  // [vvar] and the like
      bytes.resize(static_cast<std::size_t>(n));
      read = true;
      for (const auto& [form, needle] : forms) {
        const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
        for (auto at = bytes.begin();;) {
          at = std::search(at, bytes.end(), searcher);
          if (at == bytes.end()) break;
          const std::uint64_t offset = static_cast<std::uint64_t>(at - bytes.begin());
          // Seen already at the end of the window before.
          if (start != region.start && offset + needle.size() <= overlap) {
            ++at;
            continue;
          }
          char address[32];
          std::snprintf(address, sizeof address, "0x%" PRIx64, start + offset);
          found.push_back(form + " " + address + " " + region.name + " " +
                          around(bytes, at - bytes.begin(), needle.size()));
          ++at;
        }
      }
      if (start + bytes.size() >= region.end) break;
      start += bytes.size() > overlap ? bytes.size() - overlap : bytes.size();
    }
    if (read && regionsRead != nullptr) ++*regionsRead;
  }
  ::close(memory);
  return found;
}

}  // namespace sorvel::testing
