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

// Whether the first temporary file noted installs the handlers that remove it.
std::atomic<bool> handlersWanted{true};

// Two places for a name, so one can be filled while the handler may still read the other.
struct TemporaryName {
  std::atomic<int> folder{AT_FDCWD};
  char name[PATH_MAX] = {};
};
// Each thread that writes files notes its own temporary file in a lane of its own, held while
// the thread lives; more threads than lanes share the last one.
struct Lane {
  std::atomic<bool> taken{false};
  TemporaryName temporaries[2];
  std::atomic<int> active{-1};
};
constexpr int kLanes = 4;
Lane lanes[kLanes];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

struct OwnLane {
  Lane* lane = nullptr;
  OwnLane() {
    for (Lane& candidate : lanes) {
      bool expected = false;
      if (candidate.taken.compare_exchange_strong(expected, true)) {
        lane = &candidate;
        return;
      }
    }
    lane = &lanes[kLanes - 1];
  }
  ~OwnLane() {
    lane->active.store(-1);
    lane->taken.store(false);
  }
};

Lane& ownLane() {
  thread_local OwnLane own;
  return *own.lane;
}

extern "C" void removeTemporaryAndRaise(int signal) {
  const int saved = errno;
  for (const Lane& lane : lanes) {
    const int active = lane.active.load();
    if (active >= 0) ::unlinkat(lane.temporaries[active].folder.load(), lane.temporaries[active].name, 0);
  }
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

void leaveSignalsToTheProcess() { handlersWanted.store(false); }

void noteTemporaryFile(NativeHandle folder, const std::string& name) {
  static std::once_flag installed;
  if (handlersWanted.load()) std::call_once(installed, installHandlers);
  if (name.empty() || name.size() >= PATH_MAX) {
    forgetTemporaryFile();
    return;
  }
  Lane& lane = ownLane();
  const int slot = lane.active.load() == 0 ? 1 : 0;
  lane.active.store(-1);
  std::memcpy(lane.temporaries[slot].name, name.c_str(), name.size() + 1);
  lane.temporaries[slot].folder.store(static_cast<int>(folder));
  lane.active.store(slot);
}

void forgetTemporaryFile() { ownLane().active.store(-1); }

}  // namespace sorvel
