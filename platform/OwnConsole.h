#pragma once
// A console window made for this process alone, as Windows makes one for a console program
// started from Explorer: no shell, script or other program shares it, and standard input is that
// console. Such a window closes the moment the process ends, so what the process showed there
// waits for a key first. Never the case on POSIX hosts.
#include <string_view>

namespace sorvel {

bool consoleMadeForThisProcess();

// Shows `prompt` on the console and waits until a key is pressed (or the console cannot be read).
void waitForKey(std::string_view prompt);

}  // namespace sorvel
