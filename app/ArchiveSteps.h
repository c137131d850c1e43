#pragma once
// What the run does once the header has passed and the password is known: the password check,
// opening the archive and extracting it into the output folder. Returns the exit code.
#include <string>

#include "base/Bytes.h"
#include "platform/Console.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

// `archive` is the archive file as the front end opened it, once for the whole run.
int runArchiveSteps(Console& console, ReadOnlyFile archive, const std::string& outputFolder,
                    const Bytes& passwordBytes);

}  // namespace sorvel
