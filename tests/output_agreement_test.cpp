// One archive, one answer: extract, test, list --json-lines and export agree item by item on what
// is written, what is left out and why, and what is damaged, on archives with hostile names,
// hostile chains and seeded damage alike, every path shown alike ("/" between names).
// Extraction's lines are the reference: test and export print the same lines, in the same order,
// and end with the same exit code; the listing marks the same items; the tar holds exactly the
// items extraction wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/Utf16.h"
#include "support/DamagedArchives.h"
#include "support/FileTree.h"
#include "support/HostileArchives.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveBuilder;
using testing::runTool;

constexpr std::string_view kCannotExtract = "Error: can not extract: ";
constexpr std::string_view kDamagedItem = "Error: damaged item: ";
constexpr std::string_view kDamagedFolder = "Error: damaged folder: ";
constexpr std::string_view kClosingLine = "sorvel: archive extracted with errors";

// The verdicts a run of extraction tells, keyed by the path its lines show: "left out: <reason>", "damaged".
std::set<std::string> verdictsOfLines(const std::vector<std::string>& lines) {
  std::set<std::string> verdicts;
  for (const std::string& line : lines) {
    if (line.starts_with(kCannotExtract)) {
      const std::string rest = line.substr(kCannotExtract.size());
      // The path ends at the last ": " before the reason; reasons hold no ": ".
      const std::size_t colon = rest.rfind(": ");
      verdicts.insert(rest.substr(0, colon) + " | left out: " + rest.substr(colon + 2));
    } else if (line.starts_with(kDamagedItem)) {
      verdicts.insert(line.substr(kDamagedItem.size()) + " | damaged");
    } else if (line.starts_with(kDamagedFolder) && line != std::string(kDamagedFolder) + "/") {
      verdicts.insert(line.substr(kDamagedFolder.size()) + " | damaged");  // the root is not listed
    }
  }
  return verdicts;
}

// The value of a string field of one line of `list --json-lines`; the tool escapes only '"', '\' and
// control characters.
std::optional<std::string> jsonField(const std::string& line, const std::string& field) {
  const std::string key = "\"" + field + "\":\"";
  const std::size_t start = line.find(key);
  if (start == std::string::npos) return std::nullopt;
  std::string value;
  for (std::size_t i = start + key.size(); i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value += line[i];
  }
  return value;
}

struct Listing {
  std::set<std::string> verdicts;  // as verdictsOfLines gives them
  std::set<std::string> written;   // shown paths of the items not left out
};

Listing listingOf(const std::vector<std::string>& lines) {
  Listing listing;
  for (const std::string& line : lines) {
    const std::string path = jsonField(line, "path").value_or("?");
    if (const std::optional<std::string> reason = jsonField(line, "leftOut")) {
      listing.verdicts.insert(path + " | left out: " + *reason);
      continue;
    }
    listing.written.insert(path);
    if (line.find("\"damaged\":true") != std::string::npos) listing.verdicts.insert(path + " | damaged");
  }
  return listing;
}

// What a folder holds, as shown paths (folders without a trailing "/").
std::set<std::string> treeOf(const fs::path& root) {
  std::set<std::string> paths;
  if (!fs::exists(root)) return paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) paths.insert(fs::relative(entry.path(), root));
  return paths;
}

class OutputAgreement : public ::testing::Test {
 protected:
  // Runs the four commands on the archive at `archive` and checks that they agree; answers
  // extraction's verdicts.
  std::set<std::string> expectAgreement(const std::string& name, const std::string& archive,
                                        const std::string& password) {
    SCOPED_TRACE(name);
    const std::vector<std::string> env = {"SORVEL_PASSWORD=" + (password.empty() ? std::string("unused") : password)};
    const std::string out = dir_.file("out-" + std::to_string(runs_));
    const std::string tar = dir_.file("t-" + std::to_string(runs_) + ".tar");
    const std::string unpacked = dir_.file("tar-" + std::to_string(runs_++));
    const testing::ProcessResult extracted = runTool({"extract", "-q", archive, "-C", out}, env);
    const testing::ProcessResult tested = runTool({"test", "-q", archive}, env);
    const testing::ProcessResult listed = runTool({"list", "--json-lines", archive}, env);
    const testing::ProcessResult exported = runTool({"export", "-q", archive, "-o", tar}, env);

    std::vector<std::string> lines = extracted.stderrLines();
    if (!lines.empty() && lines.back() == kClosingLine) lines.pop_back();
    EXPECT_EQ(tested.exitCode, extracted.exitCode) << tested.stderrText;
    EXPECT_EQ(exported.exitCode, extracted.exitCode) << exported.stderrText;
    if (extracted.exitCode != 0 && extracted.exitCode != 11) return {};  // refused before any item
    EXPECT_EQ(listed.exitCode, 0) << listed.stderrText;

    EXPECT_EQ(tested.stderrLines(), lines);
    EXPECT_EQ(exported.stderrLines(), lines);
    const Listing listing = listingOf(listed.stdoutLines());
    EXPECT_EQ(listing.verdicts, verdictsOfLines(lines));
    EXPECT_EQ(treeOf(out), listing.written);
    fs::create_directory(unpacked);
    testing::ProcessRequest untar;
    untar.program = "/usr/bin/tar";
    untar.args = {"-xf", tar, "-C", unpacked};
    const testing::ProcessResult untarred = testing::runProcess(untar);
    EXPECT_EQ(untarred.exitCode, 0) << untarred.stderrText;
    EXPECT_EQ(treeOf(unpacked), listing.written);
    fs::remove_all(out);
    fs::remove_all(unpacked);
    fs::remove(tar);
    return verdictsOfLines(lines);
  }

  std::set<std::string> expectAgreement(const std::string& name, const ArchiveBuilder& builder) {
    const std::string archive = dir_.file(name + ".sva");
    EXPECT_TRUE(builder.writeTo(archive));
    return expectAgreement(name, archive,
                           std::string(builder.settings.password.begin(), builder.settings.password.end()));
  }

  testing::TempDir dir_;
  int runs_ = 0;
};

TEST_F(OutputAgreement, HostileNames) {
  ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf("pw");
  builder.addFile(u"ok", "fine");
  builder.addFile(u"i", "inner").storedName = u"nodir\\inner";
  builder.addFile(u"e", "escape").storedName = u"..\\..\\esc";
  builder.addFile(u"..\\x.txt", "up");
  builder.addFile(u".\\dot.txt", "dot");
  builder.addFile(u"slash", "s").storedName = u"a/b.txt";
  builder.addFile(u"s1", "first").storedName = std::u16string(u"a") + char16_t(0xD800) + u".txt";
  builder.addFile(u"s2", "second").storedName = std::u16string(u"a") + char16_t(0xDC00) + u".txt";
  builder.addFile(u"empty", "e").storedName = u"";
  builder.addFile(u"long\\in.txt", "below a long name");
  builder.addFolder(u"long").storedName = std::u16string(300, u'n');
  builder.addFile(std::u16string(260, u'f'), "a long file name");
  builder.addFile(u"Case.txt", "first spelling");
  builder.addFile(u"CASE.TXT", "later content");
  const std::set<std::string> verdicts = expectAgreement("names", builder);
  const std::string fffd = "\xEF\xBF\xBD";
  for (const std::string& expected : {
           std::string("../../esc | left out: unsafe name"),
           std::string("nodir/inner | left out: unsafe name"),
           "a" + fffd + ".txt | left out: same name as a" + fffd + ".txt",
           std::string(300, 'n') + " | left out: File name too long",
           std::string(300, 'n') + "/in.txt | left out: File name too long",
       }) {
    EXPECT_TRUE(verdicts.contains(expected)) << expected;
  }
  EXPECT_FALSE(verdicts.contains("Case.txt | left out: same name as CASE.TXT"));
}

TEST_F(OutputAgreement, DamagedContent) { expectAgreement("damaged", testing::damagedArchive()); }

TEST_F(OutputAgreement, HostileChains) {
  for (testing::HostileShape& shape : testing::hostileShapes(4096)) expectAgreement(shape.name, shape.builder);
}

TEST_F(OutputAgreement, SeededDamage) {
  std::mt19937_64 rng(20261211);
  for (const testing::BaseArchive& base : testing::damageBases()) {
    for (int round = 0; round < 4; ++round) {
      const testing::DamagedArchive damaged = testing::damage(rng, base);
      const std::string archive = dir_.file("seed-" + std::to_string(runs_) + ".sva");
      dir_.writeFile(fs::path(archive).filename().string(), damaged.bytes);
      expectAgreement(base.name + ": " + damaged.description, archive, base.password);
    }
  }
}

}  // namespace
}  // namespace sorvel
