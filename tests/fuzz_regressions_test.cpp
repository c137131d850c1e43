// Replays every saved fuzz input, the seeds and the inputs that once broke something, through the
// same entry functions the fuzzers drive. Each must come back with its invariants intact; in the
// sanitizer build a memory error or a leak on any of them fails the run as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "entries/FuzzEntries.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

struct FuzzTarget {
  const char* name;
  bool (*entry)(const std::uint8_t* data, std::size_t size);
};

constexpr FuzzTarget kTargets[] = {
    {"archive_reading", fuzz::readArchive},
    {"directory_parser", fuzz::parseDirectoryBytes},
    {"detail_table", fuzz::parseDetailTableBytes},
    {"password_entry", fuzz::enterPasswords},
};

std::vector<fs::path> savedInputs(const std::string& target) {
  std::vector<fs::path> inputs;
  for (const char* kind : {"seeds", "regressions"}) {
    const fs::path folder = fs::path(SORVEL_FUZZ_DIR) / kind / target;
    if (!fs::is_directory(folder)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
  }
  return inputs;
}

Bytes fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzRegressions : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzRegressions, EverySavedInputEndsWithItsInvariantsIntact) {
  const FuzzTarget target = GetParam();
  const std::vector<fs::path> inputs = savedInputs(target.name);
  ASSERT_FALSE(inputs.empty()) << "no seeds for " << target.name << " below " << SORVEL_FUZZ_DIR;
  for (const fs::path& input : inputs) {
    const Bytes bytes = fileBytes(input);
    EXPECT_TRUE(target.entry(bytes.data(), bytes.size())) << input;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressions, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<FuzzTarget>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace sorvel
