// export: the archive's tree as a POSIX (pax) tar stream, written by libarchive.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "app/OutputPath.h"
#include "app/OutputPlan.h"
#include "platform/Console.h"
#include "platform/FileIdentity.h"
#include "platform/FileStatus.h"
#include "platform/FileWriter.h"
#include "platform/SystemError.h"
#include "platform/TerminalText.h"
#include "platform/Utf16.h"
#include "sorvel/Commands.h"
#include "sorvel/ItemWalk.h"
#include "sorvel/Progress.h"
#include "sorvel/TarWriter.h"
#include "sorvel/Tool.h"

namespace sorvel::tool {
namespace {

bool toStandardOutput(const Options& options) { return options.outputFile.empty() || options.outputFile == "-"; }

std::string outputName(const Options& options) {
  return toStandardOutput(options) ? std::string(Message::StandardOutput) : options.outputFile;
}

}  // namespace

int checkExportOutput(const Options& options) {
  if (options.outputFile.empty() && ::isatty(STDOUT_FILENO) == 1) {
    reportUsageError(std::string(Message::NoTarToTerminal));
    return ExitCode::Usage;
  }
  // Written while it is read, the archive would be lost.
  const std::optional<FileIdentity> archive = identityOfPath(options.archive);
  const std::optional<FileIdentity> output =
      toStandardOutput(options) ? identityOfStandardOutput() : identityOfPath(options.outputFile);
  if (archive && archive == output) {
    reportProblem(outputName(options) + ": " + std::string(Message::OutputIsTheArchive));
    return ExitCode::NotFound;
  }
  return 0;
}

int exportTar(CommandContext& context) {
  const Options& options = context.options;
  const std::string& output = options.outputFile;
  // The writer converts names through the character type of the locale: UTF-8, which pax headers
  // hold, is what it must be, whatever the user's locale.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  // The file outlives the tar writer, which may still flush into it when it goes.
  std::optional<FileWriter> file;
  TarWriter tar;
  auto cannotWrite = [&](const std::string& reason) {
    reportProblem(std::string(Message::CannotWrite) + outputName(options) + ": " + reason);
  };
  // A file is written beside its name and replaces it only once the tar is complete; a device or
  // a pipe is written in place.
  bool opened = false;
  std::string failure;
  if (toStandardOutput(options)) {
    opened = tar.openDescriptor(STDOUT_FILENO);
  } else if (queryFileStatus(output).kind == FileKind::Other) {
    opened = tar.openPath(output);
  } else if ((file = FileWriter::create(output))) {
    opened = tar.openWriter(*file);
  } else {
    failure = systemErrorText(errno);
  }
  if (!opened) {
    cannotWrite(failure.empty() ? tar.error() : failure);
    return ExitCode::NotFound;
  }

  WalkTotals totals;
  for (const std::u16string& start : context.starts) {
    const WalkTotals part = countTree(context.archive, start);
    totals.items += part.items;
    totals.bytes += part.bytes;
  }
  Progress progress(!options.quiet, totals.items, totals.bytes);
  bool problems = false;
  auto report = [&](std::string_view what, std::u16string_view path, std::string_view reason = {}) {
    progress.interrupt();
    Console::standard().line(itemLine(what, path, reason));
    problems = true;
  };
  bool broken = false;
  const std::uint64_t archiveSize = context.archive.container().archiveFile().fileSize();
  ContentWalk walk(context.archive);
  ContentWalk::Visits visits;
  visits.absent = [&](const OutputPlan::Absent& absent) { report(Message::CannotExtract, absent.path, absent.reason); };
  for (const std::u16string& start : context.starts) {
    const OutputPlan plan(context.archive, start);
    visits.item = [&](const ContentWalk::Item& item) {
      const std::uint64_t size = item.record.isFolder() ? 0 : item.record.size();
      progress.advance(1, size);
      auto skip = [&] {
        if (item.content != nullptr) item.content->abandon();
      };
      if (broken) return skip();
      if (!item.planned.written()) {
        skip();
        return report(Message::CannotExtract, item.path, plan.reasonOf(item.planned));
      }
      if (item.path == kRootPath) {
        if (plan.isDamagedFolder(item.planned)) report(Message::DamagedFolder, item.path);
        return;
      }
      if (size > 0 && (item.content == nullptr ||
                       !contentWritable(size, item.content->expected(), item.content->end()))) {
        skip();
        return report(Message::CannotExtract, item.path, Message::ContentUnreadable);
      }
      // The size goes in the header before the content is read: what the chain can deliver,
      // and for a short chain zeros up to the recorded size, as extraction writes it. The zeros
      // are a hole in the tar, as they are in an extracted file.
      const std::uint64_t expected = size == 0 ? 0 : item.content->expected();
      const std::uint64_t declared =
          size == 0 ? 0 : contentOutcome(size, expected, expected, item.content->end(), archiveSize).length;
      const std::string path = displayPath(item.path) + (item.record.isFolder() ? "/" : "");
      if (!tar.header(path, item.record, declared, std::min(expected, declared))) {
        broken = true;
        return skip();
      }
      if (item.record.isFolder()) {
        if (plan.isDamagedFolder(item.planned)) report(Message::DamagedFolder, item.path);
        return;
      }
      std::uint64_t written = 0;
      const ContentRead read = readWhole(item.content, size, [&](const std::uint8_t* data, std::size_t length) {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(length, declared - written));
        if (!tar.data(data, take)) {
          broken = true;
          return false;
        }
        written += take;
        return true;
      });
      if (!broken && !tar.zeros(declared - written)) broken = true;
      if (read.damaged && !broken) report(Message::DamagedItem, item.path);
    };
    walk.run(plan, visits);
  }
  progress.finish();
  if (broken || !tar.close()) {
    cannotWrite(tar.error());
    return ExitCode::ExtractedWithErrors;  // the temporary file goes with the writer
  }
  const std::int64_t now = std::time(nullptr);
  if (file && !file->commit(now, now, FileFlags{})) {
    cannotWrite(systemErrorText(file->error()));
    return ExitCode::ExtractedWithErrors;
  }
  return problems ? ExitCode::ExtractedWithErrors : 0;
}

}  // namespace sorvel::tool
