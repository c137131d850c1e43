#include "platform/ProcessSafety.h"

#include <atomic>
#include <mutex>

#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

// Whether the first temporary file noted installs the handlers that remove it.
std::atomic<bool> handlersWanted{true};

// Two places for a name, so one can be filled while the handler may still read the other.
constexpr std::size_t kMaxPath = 32768;
wchar_t temporaries[2][kMaxPath] = {};
std::atomic<int> activeTemporary{-1};

BOOL WINAPI removeTemporary(DWORD) {
  const int active = activeTemporary.exchange(-1);
  if (active >= 0) {
    SetFileAttributesW(temporaries[active], FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temporaries[active]);
  }
  return FALSE;  // the next handler, in the end the default one, ends the process
}

}  // namespace

bool disableCoreDumps() {
  // No crash dialog and no report of this process's memory to the error reporting service.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return true;
}

void leaveSignalsToTheProcess() { handlersWanted.store(false); }

void noteTemporaryFile(NativeHandle, const std::string& name) {
  static std::once_flag installed;
  if (handlersWanted.load()) std::call_once(installed, [] { SetConsoleCtrlHandler(removeTemporary, TRUE); });
  const std::wstring path = win32::wide(name);
  if (path.empty() || path.size() >= kMaxPath) {
    forgetTemporaryFile();
    return;
  }
  const int slot = activeTemporary.load() == 0 ? 1 : 0;
  activeTemporary.store(-1);
  path.copy(temporaries[slot], path.size());
  temporaries[slot][path.size()] = L'\0';
  activeTemporary.store(slot);
}

void forgetTemporaryFile() { activeTemporary.store(-1); }

}  // namespace sorvel
