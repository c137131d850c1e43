#pragma once
// A fresh folder for one test, removed with everything in it when the object goes, even content
// that the test made read-only or unreadable. Its path has symbolic links resolved, so it is
// what the current-directory query reports inside it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvel::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when the folder could not be made (the test has already been marked failed).
  const std::string& path() const { return path_; }
  // `relative` below the folder.
  std::string file(std::string_view relative) const;

  // Creates (or replaces) a file below the folder and returns its path; folders on the way are
  // made. A failure marks the test failed.
  std::string writeFile(std::string_view relative, std::string_view content) const;
  std::string writeFile(std::string_view relative, const std::vector<std::uint8_t>& content) const;
  // Creates a folder, and those on the way, below the folder and returns its path.
  std::string makeDir(std::string_view relative) const;

 private:
  std::string path_;
};

}  // namespace sorvel::testing
