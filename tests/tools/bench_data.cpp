// Writes the data that scripts/bench times: an archive and, beside it, the same content as plain
// files, so that other tools can be timed on exactly the bytes we extract.
//
//   bench_data large <xts|cfb|blowfish> <password> <archive> [<plain file>]
//       one file "big.bin" of 1 GiB; the plain copy only when a path is given
//   bench_data tree <password> <archive> <plain folder> [<folders>]
//       200 folders (or <folders>) "d000".. of 100 files "f000.bin".."f099.bin", 4 KiB each, AesCfb
//   bench_data flat <password> <archive> <plain folder>
//       100,000 files of 4 KiB in the root folder
//   bench_data empty <password> <archive> <plain folder>
//       1,000 folders of 1,000 empty files each
//   bench_data one <password> <archive> <plain folder>
//       one file of 4 KiB in the root folder
//   bench_data hostile <chain entries> <folder>
//       the hostile shapes (password "hostile") as <folder>/<shape>.sva
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>

#include "support/ArchiveBuilder.h"
#include "support/HostileArchives.h"

namespace {

using sorvel::Bytes;
namespace testing = sorvel::testing;

constexpr std::uint64_t kLargeSize = std::uint64_t{1} << 30;
constexpr int kTreeFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr std::size_t kTreeFileSize = 4096;
constexpr int kFlatFiles = 100000;
constexpr int kEmptyFolders = 1000;
constexpr int kEmptyFilesPerFolder = 1000;
constexpr std::uint64_t kLargeSeed = 0x5EED0001;
constexpr std::uint64_t kTreeSeed = 0x5EED0002;
constexpr std::uint8_t kAesCfb = 1;

int usage() {
  std::fprintf(stderr,
               "usage: bench_data large <xts|cfb|blowfish> <password> <archive> [<plain file>]\n"
               "       bench_data tree <password> <archive> <plain folder> [<folders of 100 files>]\n"
               "       bench_data <flat|empty|one> <password> <archive> <plain folder>\n"
               "       bench_data hostile <chain entries> <folder>\n");
  return 2;
}

bool cipherCode(std::string_view name, std::uint8_t& code) {
  static const std::map<std::string_view, std::uint8_t> codes{{"cfb", 1}, {"blowfish", 2}, {"xts", 3}};
  const auto found = codes.find(name);
  if (found == codes.end()) return false;
  code = found->second;
  return true;
}

// The archive's times on a plain file, so that every tool restores the same thing.
void stampTimes(const std::string& path, const testing::Item& item) {
  const timespec times[2] = {{item.accessed, 0}, {item.modified, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool writePlain(const std::string& path, const testing::ContentGenerator& generator, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  Bytes chunk(1 << 20);
  for (std::uint64_t at = 0; at < size && out; at += chunk.size()) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - at));
    generator(at, chunk.data(), length);
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(length));
  }
  out.flush();
  return static_cast<bool>(out);
}

// "d007", "f042": a letter and at least three digits, as many as the largest of `count` needs.
std::string numbered(char letter, int n, int count = 1000) {
  int width = 3;
  for (int limit = 1000; limit < count; limit *= 10) ++width;
  std::string digits = std::to_string(n);
  if (digits.size() < static_cast<std::size_t>(width))
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return letter + digits;
}

int makeLarge(std::string_view cipher, const std::string& password, const std::string& archive,
              const std::string& plain) {
  testing::ArchiveBuilder builder;
  if (!cipherCode(cipher, builder.settings.dataCipher)) return usage();
  builder.settings.password = testing::bytesOf(password);
  const testing::ContentGenerator content = testing::seededContent(kLargeSeed);
  const testing::Item& item = builder.addGeneratedFile(u"big.bin", kLargeSize, content);
  if (!builder.writeTo(archive)) return 1;
  if (plain.empty()) return 0;
  if (!writePlain(plain, content, kLargeSize)) return 1;
  stampTimes(plain, item);
  return 0;
}

// `folders` folders "d000".. of `files` files each, or with `folders` 0 the files in the root;
// every file `fileSize` bytes.
int makeTree(const std::string& password, const std::string& archive, const std::string& plainFolder, int folders,
             int files, std::size_t fileSize) {
  testing::ArchiveBuilder builder;
  builder.settings.dataCipher = kAesCfb;
  builder.settings.password = testing::bytesOf(password);
  std::filesystem::create_directories(plainFolder);
  const testing::ContentGenerator content = testing::seededContent(kTreeSeed);
  std::uint64_t offset = 0;
  for (int d = 0; d < std::max(folders, 1); ++d) {
    const std::string folder = folders == 0 ? std::string() : numbered('d', d, folders);
    if (!folder.empty()) {
      builder.addFolder(std::u16string(folder.begin(), folder.end()));
      std::filesystem::create_directory(plainFolder + "/" + folder);
    }
    for (int f = 0; f < files; ++f, offset += fileSize) {
      const std::string name = numbered('f', f, files) + ".bin";
      const std::string path = folder.empty() ? name : folder + "\\" + name;
      const Bytes bytes = testing::generateContent(content, offset, fileSize);
      const testing::Item& item = builder.addFile(std::u16string(path.begin(), path.end()), bytes);
      const std::string plainPath = plainFolder + "/" + (folder.empty() ? name : folder + "/" + name);
      std::ofstream(plainPath, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(fileSize));
      stampTimes(plainPath, item);
    }
  }
  return builder.writeTo(archive) ? 0 : 1;
}

}  // namespace

int makeHostile(std::uint32_t entries, const std::string& folder) {
  for (testing::HostileShape& shape : testing::hostileShapes(entries)) {
    if (!shape.builder.writeTo(std::filesystem::path(folder) / (shape.name + ".sva"))) return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "large" && (argc == 5 || argc == 6))
    return makeLarge(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : "");
  if (mode == "tree" && (argc == 5 || argc == 6)) {
    return makeTree(argv[2], argv[3], argv[4], argc == 6 ? std::atoi(argv[5]) : kTreeFolders, kFilesPerFolder,
                    kTreeFileSize);
  }
  if (argc == 5) {
    if (mode == "flat") return makeTree(argv[2], argv[3], argv[4], 0, kFlatFiles, kTreeFileSize);
    if (mode == "empty") return makeTree(argv[2], argv[3], argv[4], kEmptyFolders, kEmptyFilesPerFolder, 0);
    if (mode == "one") return makeTree(argv[2], argv[3], argv[4], 0, 1, kTreeFileSize);
  }
  if (mode == "hostile" && argc == 4)
    return makeHostile(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)), argv[3]);
  return usage();
}
