#pragma once
// Names as the host's file system takes them. A Windows file system cannot hold some names that
// an archive may carry, and takes two names that differ only in case for the same one; a POSIX
// file system holds every name of a safe item path up to its length limit and tells all of them
// apart.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace sorvel {

// True where the host tells every two names apart (POSIX): then none needs remembering.
bool hostTakesEveryName();

// Why the host cannot hold `name` (one name of a path), or nothing when it can: on POSIX hosts a
// name longer than file systems hold, on Windows also names it forbids.
std::optional<std::string> hostNameRefusal(std::u16string_view name);

// The names one run has written, per folder, to tell when a name would land on a different one
// that the host takes for the same. Where the host takes every name, it keeps nothing.
class WrittenNames {
 public:
  // Why `name` cannot be written in `folder` (its path below the output folder): the name of an
  // item already written there that the host takes for the same, e.g. "same name as äpfel.txt".
  std::optional<std::string> collision(std::u16string_view folder, std::u16string_view name) const;
  void note(std::u16string_view folder, std::u16string_view name);
  void clear() { names_.clear(); }

 private:
  static std::u16string key(std::u16string_view folder, std::u16string_view name);
  std::unordered_map<std::u16string, std::u16string> names_;  // key -> the name as written
};

// The form of `name` under which the host finds it (Windows: upper case, as names compare when
// case is ignored), and whether two names lead to the same file.
std::u16string hostNameKey(std::u16string_view name);
bool hostSameName(std::u16string_view a, std::u16string_view b);

}  // namespace sorvel
