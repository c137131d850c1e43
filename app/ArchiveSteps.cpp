#include "app/ArchiveSteps.h"

#include <utility>

#include "app/ExitCode.h"
#include "app/Extractor.h"
#include "archive/Archive.h"

namespace sorvel {

int runArchiveSteps(Console& console, ReadOnlyFile archiveFile, const std::string& outputFolder,
                    const Bytes& passwordBytes) {
  Archive archive;
  archive.attach(std::move(archiveFile));
  if (!archive.checkPassword(passwordBytes)) {
    console.line("Error: incorrect password!");
    return ExitCode::IncorrectPassword;
  }
  if (!archive.open()) {
    console.line("Error: archive can not be opened !");
    return ExitCode::CannotOpen;
  }
  Extractor extractor(archive, [&console](const std::string& line) { console.line(line); });
  extractor.extract(kRootPath, outputFolder);
  if (extractor.reportedProblems()) {
    console.line("Error: archive extracted with errors!");
    return ExitCode::ExtractedWithErrors;
  }
  console.line("Archive extracted successfully! ");
  return ExitCode::Success;
}

}  // namespace sorvel
