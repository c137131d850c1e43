#pragma once
// A mount without -f leaves the command's process: it forks before the archive is opened, so that
// the process that serves builds the tree in its own memory (made in the parent, every page of it
// would be found again by the child at its first touch: a walk of 100,000 items right after
// mounting took 0.16 s that way, 0.14 s in a process that never forked). The command waits for
// the serving process's word and ends with its exit code, so that the mount is in place, or its
// failure told, when the command returns.
#include <optional>

namespace sorvel::mount {

class Detachment {
 public:
  Detachment() = default;
  Detachment(const Detachment&) = delete;
  Detachment& operator=(const Detachment&) = delete;
  // Tells the command `finish`'s code if nothing was told yet.
  ~Detachment();

  // Forks. In the command's process: waits for the serving process's word and returns the
  // command's exit code; in the serving process: returns nothing and that process goes on. An
  // exit code too when the fork itself fails (after a message on standard error).
  std::optional<int> fork();

  // The mount is in place: the serving process leaves the terminal (a session of its own, "/" as
  // its working folder, its standard streams on /dev/null) and the command ends with 0. False
  // when the process could not leave the terminal (the command is told that mounting failed).
  bool serving();
  // The serving process ends with `code` before it served (its message already on standard
  // error): the command ends with the same code. Nothing once serving() told the command.
  void finish(int code);

 private:
  void tell(int code);

  int toCommand_ = -1;  // the write end of the pipe the command waits on, until told
};

}  // namespace sorvel::mount
