// Writes the seed corpora of the fuzz targets, made with the test archive builder:
//   sorvel_fuzz_seeds OUTPUT_FOLDER
// creates OUTPUT_FOLDER/<target>/<seed> for every target. Most archives are stored without a
// password, so every byte of them is plain and reachable by mutation; one per cipher is
// encrypted with the fuzzer's password, so that mutations past the password check reach the
// ciphers' paths too. The zeros at their end are cut, since a read past the end of the file
// yields zeros all the same.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/ByteOrder.h"
#include "entries/FuzzEntries.h"
#include "support/ArchiveBuilder.h"
#include "support/DetailFileBuilder.h"

namespace fs = std::filesystem;
using namespace sorvel;
using namespace sorvel::testing;

namespace {

bool writeSeed(const fs::path& folder, const std::string& name, const Bytes& bytes) {
  fs::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The bytes without their trailing zeros, but never shorter than `keep`.
Bytes trimmed(Bytes bytes, std::size_t keep) {
  std::size_t end = bytes.size();
  while (end > keep && bytes[end - 1] == 0) --end;
  bytes.resize(end);
  return bytes;
}

Bytes archiveSeed(const ArchiveBuilder& builder) {
  const std::optional<ArchiveLayout> layout = builder.layout();
  if (!layout) return {};
  return trimmed(builder.build(), static_cast<std::size_t>(layout->dataStart));
}

// The stored content of a chain, block after block.
Bytes chainContent(const Bytes& archive, const ArchiveLayout& layout, const BlockList& blocks) {
  Bytes content;
  for (std::uint32_t block : blocks) {
    const std::uint64_t at = layout.blockOffset(block);
    for (std::uint64_t i = 0; i < disk::kBlockSize; ++i)
      content.push_back(at + i < archive.size() ? archive[at + i] : 0);
  }
  return content;
}

DetailFileContents sampleDetails() {
  DetailFileContents details;
  details.records.push_back({u"a.txt", bytesOf("first blob"), bytesOf("second"), {}, {}, {}, {}});
  details.records.push_back({u"docs", {}, bytesOf("only the second blob"), {}, {}, {}, {}});
  return details;
}

ArchiveBuilder basicArchive() {
  ArchiveBuilder builder;
  builder.addFile(u"a.txt", "hello");
  builder.addFile(u"docs\\b.bin", Bytes(20000, 0x5A));
  builder.addFolder(u"docs\\inner");
  builder.addDetailFile(u"", sampleDetails());
  return builder;
}

ArchiveBuilder chainsArchive() {
  ArchiveBuilder builder;
  builder.addFile(u"split.bin", Bytes(20000, 0x33)).blocks = BlockList{5, 3};
  builder.addFile(u"short.bin", "short").storedSize = 70000;
  builder.addFolder(u"loop").directory.blocks = BlockList{4};
  builder.settings.chainOverrides[4] = 4;
  return builder;
}

ArchiveBuilder namesArchive() {
  ArchiveBuilder builder;
  // Empty files: no block each, so the seed stays small.
  builder.addFile(u"a name of twenty-five!!");
  builder.addFile(u"Case");
  builder.addFile(u"CASE");
  builder.addFile(u"..");
  builder.addFile(u"valdo_item_detail.deposit", "hidden");
  builder.addFile(u"with/slash");
  return builder;
}

ArchiveBuilder deepArchive() {
  ArchiveBuilder builder;
  builder.addFile(u"one\\two\\three\\leaf");
  builder.addDetailFile(u"one\\two", DetailFileContents{{{u"three", {}, {}, {}, {}, {}, {}}}, {}, {}, {}});
  return builder;
}

bool writeArchiveSeeds(const fs::path& out) {
  const fs::path folder = out / "archive_reading";
  bool ok = true;
  ok &= writeSeed(folder, "basic", archiveSeed(basicArchive()));
  ok &= writeSeed(folder, "chains", archiveSeed(chainsArchive()));
  ok &= writeSeed(folder, "names", archiveSeed(namesArchive()));
  ok &= writeSeed(folder, "deep", archiveSeed(deepArchive()));
  ArchiveBuilder empty;
  ok &= writeSeed(folder, "empty", archiveSeed(empty));
  const std::string_view password = fuzz::kFuzzPassword;
  const std::pair<const char*, std::uint8_t> ciphers[] = {{"aes-cfb", 1}, {"blowfish", 2}, {"aes-xts", 3}};
  for (const auto& [name, cipher] : ciphers) {
    ArchiveBuilder encrypted = basicArchive();
    encrypted.settings.password = Bytes(password.begin(), password.end());
    encrypted.settings.keyBlockCipher = cipher == 3 ? 1 : cipher;
    encrypted.settings.dataCipher = cipher;
    ok &= writeSeed(folder, std::string("encrypted-") + name, archiveSeed(encrypted));
  }
  return ok;
}

bool writeDirectorySeeds(const fs::path& out) {
  const fs::path folder = out / "directory_parser";
  bool ok = true;
  int index = 0;
  for (const ArchiveBuilder& builder : {basicArchive(), namesArchive()}) {
    const std::optional<ArchiveLayout> layout = builder.layout();
    if (!layout) return false;
    const Bytes archive = builder.build();
    ok &= writeSeed(folder, "root" + std::to_string(index++),
                    trimmed(chainContent(archive, *layout, layout->root.blocks), 0));
  }
  // A directory whose groups run up to the 97-byte limit at the end of the data.
  ArchiveBuilder full;
  full.addFile(u"x", "x");
  const std::optional<ArchiveLayout> layout = full.layout();
  if (!layout) return false;
  Bytes root = trimmed(chainContent(full.build(), *layout, layout->root.blocks), 0);
  root.resize(std::max<std::size_t>(root.size(), 97));
  ok &= writeSeed(folder, "edge", root);
  return ok;
}

bool writeDetailSeeds(const fs::path& out) {
  const fs::path folder = out / "detail_table";
  bool ok = writeSeed(folder, "two-records", detailFileBytes(sampleDetails()));
  ok &= writeSeed(folder, "empty", detailFileBytes(DetailFileContents{}));
  DetailFileContents odd = sampleDetails();
  odd.records[0].firstBlobLength = 4;
  odd.trailing = bytesOf("trailing bytes");
  ok &= writeSeed(folder, "odd-lengths", detailFileBytes(odd));
  return ok;
}

bool writePasswordSeeds(const fs::path& out) {
  const fs::path folder = out / "password_entry";
  // The literal's bytes, embedded NULs included, without its terminator.
  auto text = [](const auto& literal) { return Bytes(std::begin(literal), std::end(literal) - 1); };
  bool ok = true;
  // First byte: even for a pipe, odd for a terminal.
  ok &= writeSeed(folder, "pipe-plain", text("\0secret\n"));
  ok &= writeSeed(folder, "pipe-backspace", text("\0pa\x7fss\x08word\r\nnext"));
  ok &= writeSeed(folder, "pipe-wide", text("\x02\xEF\xBC\xB0\xEF\xBD\x81\xEF\xAC\x81\xF0\x9F\x98\x80\xE2\x85\xA8\n"));
  ok &= writeSeed(folder, "pipe-broken-utf8", text("\x04\xC3\x28\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82\n"));
  ok &= writeSeed(folder, "terminal-keys", text("\x01pw\x1b[A\x1bOP\x1b[[A\x1b[15~\x1bx\x7f\r"));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  const bool ok =
      writeArchiveSeeds(out) && writeDirectorySeeds(out) && writeDetailSeeds(out) && writePasswordSeeds(out);
  if (!ok) std::fprintf(stderr, "some seeds could not be written\n");
  return ok ? 0 : 1;
}
