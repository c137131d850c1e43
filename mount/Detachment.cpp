#include "mount/Detachment.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "platform/SystemError.h"

namespace sorvel::mount {

Detachment::~Detachment() { finish(ExitCode::MountFailed); }

std::optional<int> Detachment::fork() {
  // Nothing buffered before the fork is written twice.
  std::cout.flush();
  std::cerr.flush();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    const int error = errno;
    std::cerr << Message::CannotDetach << systemErrorText(error) << "\n";
    return ExitCode::MountFailed;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    std::cerr << Message::CannotDetach << systemErrorText(error) << "\n";
    ::close(ends[0]);
    ::close(ends[1]);
    return ExitCode::MountFailed;
  }
  if (child == 0) {
    ::close(ends[0]);
    toCommand_ = ends[1];
    return std::nullopt;
  }
  ::close(ends[1]);
  unsigned char code = 0;
  ssize_t got;
  do {
    got = ::read(ends[0], &code, 1);
  } while (got < 0 && errno == EINTR);
  ::close(ends[0]);
  if (got == 1 && code == ExitCode::Success) return code;
  // A process that failed ends at once (after its word, or without one: a signal): it is waited
  // for, so that none is left behind unreaped.
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (got == 1) return code;
  return WIFEXITED(status) && WEXITSTATUS(status) != 0 ? WEXITSTATUS(status) : ExitCode::MountFailed;
}

bool Detachment::serving() {
  if (toCommand_ < 0) return true;
  const int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const bool left = ::setsid() != -1 && ::chdir("/") == 0 && nowhere >= 0 && ::dup2(nowhere, 0) == 0 &&
                    ::dup2(nowhere, 1) == 1 && ::dup2(nowhere, 2) == 2;
  if (nowhere > 2) ::close(nowhere);
  tell(left ? ExitCode::Success : ExitCode::MountFailed);
  return left;
}

void Detachment::finish(int code) {
  if (toCommand_ >= 0) tell(code);
}

void Detachment::tell(int code) {
  const auto byte = static_cast<unsigned char>(code);
  while (::write(toCommand_, &byte, 1) < 0 && errno == EINTR) {
  }
  ::close(toCommand_);
  toCommand_ = -1;
}

}  // namespace sorvel::mount
