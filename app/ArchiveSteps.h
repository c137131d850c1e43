#pragma once
// What the run does once the header has passed and the password is known: the password check,
// opening the archive and extracting it into the output folder. Returns the exit code.
#include <string>

#include "crypto/Bytes.h"
#include "platform/Console.h"

namespace sorvel {

int runArchiveSteps(Console& console, const std::string& archivePath, const std::string& outputFolder,
                    const Bytes& passwordBytes);

}  // namespace sorvel
