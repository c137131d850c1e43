#include "app/ArchiveSteps.h"

#include <utility>

#include "app/ExitCode.h"
#include "app/Extractor.h"
#include "app/Messages.h"
#include "archive/Archive.h"

namespace sorvel {

int runArchiveSteps(Console& console, ReadOnlyFile archiveFile, const std::string& outputFolder,
                    const Bytes& passwordBytes) {
  Archive archive;
  archive.attach(std::move(archiveFile));
  if (!archive.checkPassword(passwordBytes)) {
    console.line(Message::IncorrectPassword);
    return ExitCode::IncorrectPassword;
  }
  if (!archive.open()) {
    console.line(Message::CannotOpen);
    return ExitCode::CannotOpen;
  }
  Extractor extractor(archive, [&console](const std::string& line) { console.line(line); });
  // This program has always kept a read-only file it finds, and reported it as not extracted.
  extractor.setExistingFiles(Extractor::ExistingFiles::ReplaceWritable);
  extractor.extract(kRootPath, outputFolder);
  if (extractor.reportedProblems()) {
    console.line(Message::ExtractedWithErrors);
    return ExitCode::ExtractedWithErrors;
  }
  console.line(Message::ExtractedSuccessfully);
  return ExitCode::Success;
}

}  // namespace sorvel
