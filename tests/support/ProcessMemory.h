#pragma once
// What another process holds in its memory: every readable region its /proc/PID/maps lists,
// read through /proc/PID/mem (a child of the caller, or any process for root).
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace sorvel::testing {

// One line per place where `text` (UTF-8) lies in the memory of process `pid`, as UTF-8 and as
// UTF-16LE: "utf8 0x7f.. [heap] <the bytes around it>". `regionsRead` (if given) is set to the number of
// regions that could be read, so that a scan that saw nothing is told from a clean one.
std::vector<std::string> findInProcessMemory(pid_t pid, std::string_view text, std::size_t* regionsRead = nullptr);

// True where the programs are built with the address sanitizer, whose runtime keeps a copy of
// the process's environment, made before the program runs: a password given in the environment
// cannot be proven gone there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kRuntimeKeepsEnvironment = true;
#else
inline constexpr bool kRuntimeKeepsEnvironment = false;
#endif

}  // namespace sorvel::testing
