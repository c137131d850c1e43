#pragma once
// Process-wide safety measures of a run that holds a password and writes files.
#include <string>

#include "platform/NativeHandle.h"

namespace sorvel {

// No core dump of this process, which holds the password and the keys derived from it: it is
// made undumpable (also hiding its memory from other processes of the same user) and its core
// size limit is set to 0. False when either could not be done.
bool disableCoreDumps();

// The named temporary file being written (relative to `folder`, or to the current folder for
// AT_FDCWD; on Windows `name` is a full path and `folder` is not used), removed if SIGINT or
// SIGTERM (on Windows: Ctrl-C, Ctrl-Break or closing the console) ends the run; the first call
// installs the handlers, where those signals are not ignored. The handler only removes that name
// and lets the run end as it would have. One file at a time per thread: noting a new one replaces
// the thread's last. A name is noted before the file is created (and forgotten if it cannot be),
// so that no signal finds a temporary file that is not noted.
void noteTemporaryFile(NativeHandle folder, const std::string& name);
// For code that runs in another program's process (libsorvel): the signals keep the handlers
// that program set, and noteTemporaryFile installs none. Called before the first file is written.
void leaveSignalsToTheProcess();
void forgetTemporaryFile();

}  // namespace sorvel
