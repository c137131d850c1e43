#pragma once
// The system's log, for lines a program that runs detached from any terminal must still tell.
#include <string_view>

namespace sorvel {

// Sends one error line to the system's log: on POSIX hosts through syslog(3), as logger(1) does
// (facility user, priority err), tagged "sorvel" with the process id. Where the host keeps no
// such log for this program (Windows), the line is dropped.
void logSystemError(std::string_view line);

}  // namespace sorvel
