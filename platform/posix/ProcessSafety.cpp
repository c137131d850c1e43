#include "platform/ProcessSafety.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace sorvel {
namespace {

// Two places for a name, so one can be filled while the handler may still read the other.
struct TemporaryName {
  std::atomic<int> folder{AT_FDCWD};
  char name[PATH_MAX] = {};
};
TemporaryName temporaries[2];
std::atomic<int> activeTemporary{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void removeTemporaryAndRaise(int signal) {
  const int saved = errno;
  const int active = activeTemporary.load();
  if (active >= 0) ::unlinkat(temporaries[active].folder.load(), temporaries[active].name, 0);
  errno = saved;
  // SA_RESETHAND has put back the default action, which the signal now takes once the handler
  // returns and unblocks it.
  ::raise(signal);
}

void installHandlers() {
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndRaise;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

bool disableCoreDumps() {
  const bool undumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
  const rlimit none{0, 0};
  return ::setrlimit(RLIMIT_CORE, &none) == 0 && undumpable;
}

void noteTemporaryFile(NativeHandle folder, const std::string& name) {
  static std::once_flag installed;
  std::call_once(installed, installHandlers);
  if (name.empty() || name.size() >= PATH_MAX) {
    forgetTemporaryFile();
    return;
  }
  const int slot = activeTemporary.load() == 0 ? 1 : 0;
  activeTemporary.store(-1);
  std::memcpy(temporaries[slot].name, name.c_str(), name.size() + 1);
  temporaries[slot].folder.store(static_cast<int>(folder));
  activeTemporary.store(slot);
}

void forgetTemporaryFile() { activeTemporary.store(-1); }

}  // namespace sorvel
