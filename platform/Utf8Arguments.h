#pragma once
// The program's arguments as UTF-8, from a host that hands them over as UTF-16 (Windows, through
// wmain): the strings, and an argv-style array of pointers to them that ends with a null pointer.
// Ill-formed UTF-16 becomes U+FFFD. Built on Windows only.
#include <string>
#include <vector>

namespace sorvel {

class Utf8Arguments {
 public:
  Utf8Arguments(int argc, const wchar_t* const* argv);
  Utf8Arguments(const Utf8Arguments&) = delete;
  Utf8Arguments& operator=(const Utf8Arguments&) = delete;

  int count() const { return static_cast<int>(arguments_.size()); }
  char** values() { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
};

// The body of a wmain: `run` called with the arguments as UTF-8.
int runWithUtf8Arguments(int argc, const wchar_t* const* argv, int (*run)(int argc, char** argv));

}  // namespace sorvel
