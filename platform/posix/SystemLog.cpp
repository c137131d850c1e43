#include "platform/SystemLog.h"

#include <syslog.h>

#include <mutex>
#include <string>

namespace sorvel {

void logSystemError(std::string_view line) {
  static std::once_flag opened;
  std::call_once(opened, [] { ::openlog("sorvel", LOG_PID, LOG_USER); });
  const std::string text(line);
  ::syslog(LOG_ERR, "%s", text.c_str());
}

}  // namespace sorvel
