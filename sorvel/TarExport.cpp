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
#include "platform/StandardStreams.h"
#include "platform/SystemError.h"
#include "platform/TerminalText.h"
#include "platform/Utf16.h"
#include "sorvel/Commands.h"
#include "sorvel/ItemWalk.h"
#include "sorvel/Progress.h"
#include "sorvel/StandardOutput.h"
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
  if (options.outputFile.empty() && standardOutputIsTerminal()) {
    reportUsageError(std::string(Message::NoTarToTerminal));
    return ExitCode::Usage;
  }
  // Written while it is read, the archive would be lost. One read from standard input is a copy.
  if (options.archive == "-") return 0;
  const std::optional<FileIdentity> archive = identityOfPath(options.archive);
  const std::optional<FileIdentity> output =
      toStandardOutput(options) ? identityOfStandardOutput() : identityOfPath(options.outputFile);
  if (archive && archive == output) {
    reportProblem(outputName(options) + ": " + std::string(Message::OutputIsTheArchive));
    return ExitCode::NotFound;
  }
  return 0;
}

namespace {

void reportCannotWrite(const Options& options, const std::string& reason) {
  reportProblem(std::string(Message::CannotWrite) + outputName(options) + ": " + reason);
}

// Opens the tar on the output: a file is written beside its name (`file`) and replaces it only
// once the tar is complete; standard output, a device or a pipe is written in place. False after
// the problem is reported.
bool openOutput(const Options& options, TarWriter& tar, std::optional<FileWriter>& file) {
  bool opened = false;
  std::string failure;
  if (toStandardOutput(options)) {
    opened = tar.openStandardOutput();
  } else if (queryFileStatus(options.outputFile).kind == FileKind::Other) {
    opened = tar.openPath(options.outputFile);
  } else if ((file = FileWriter::create(options.outputFile))) {
    opened = tar.openWriter(*file);
  } else {
    failure = systemErrorText(errno);
  }
  if (!opened) reportCannotWrite(options, failure.empty() ? tar.error() : failure);
  return opened;
}

// Writes the plan's items into the tar as extraction writes them to disk, and tells what it
// leaves out or finds damaged with extraction's lines.
class ItemExporter {
 public:
  ItemExporter(TarWriter& tar, Progress& progress, std::uint64_t archiveSize)
      : tar_(tar), progress_(progress), archiveSize_(archiveSize) {}

  void report(std::string_view what, std::u16string_view path, std::string_view reason = {}) {
    progress_.interrupt();
    Console::standard().line(itemLine(what, path, reason, PathStyle::Slash));
    problems_ = true;
  }
  void exportItem(const OutputPlan& plan, const ContentWalk::Item& item);
  bool problems() const { return problems_; }
  bool broken() const { return broken_; }

 private:
  // The file's content after its header: what the chain delivers, then the zeros up to `declared`.
  void writeContent(const ContentWalk::Item& item, std::uint64_t size, std::uint64_t declared);

  TarWriter& tar_;
  Progress& progress_;
  std::uint64_t archiveSize_;
  bool problems_ = false;
  bool broken_ = false;  // the tar can take nothing more
};

void ItemExporter::exportItem(const OutputPlan& plan, const ContentWalk::Item& item) {
  const std::uint64_t size = item.record.isFolder() ? 0 : item.record.size();
  progress_.advance(1, size);
  auto skip = [&] {
    if (item.content != nullptr) item.content->abandon();
  };
  if (broken_) return skip();
  if (!item.planned.written()) {
    skip();
    return report(Message::CannotExtract, item.path, plan.reasonOf(item.planned));
  }
  if (item.path == kRootPath) {
    if (plan.isDamagedFolder(item.planned)) report(Message::DamagedFolder, item.path);
    return;
  }
  if (size > 0 && (item.content == nullptr || !contentWritable(size, item.content->expected(), item.content->end()))) {
    skip();
    return report(Message::CannotExtract, item.path, Message::ContentUnreadable);
  }
  // The size goes in the header before the content is read: what the chain can deliver, and for
  // a short chain zeros up to the recorded size, as extraction writes it. The zeros are a hole in
  // the tar, as they are in an extracted file.
  const std::uint64_t expected = size == 0 ? 0 : item.content->expected();
  const std::uint64_t declared =
      size == 0 ? 0 : contentOutcome(size, expected, expected, item.content->end(), archiveSize_).length;
  std::string path;
  for (const std::string& name : OutputPlan::outputNames(item.path)) path += (path.empty() ? "" : "/") + name;
  if (item.record.isFolder()) path += '/';
  if (!tar_.header(path, item.record, declared, std::min(expected, declared))) {
    broken_ = true;
    return skip();
  }
  if (item.record.isFolder()) {
    if (plan.isDamagedFolder(item.planned)) report(Message::DamagedFolder, item.path);
    return;
  }
  writeContent(item, size, declared);
}

void ItemExporter::writeContent(const ContentWalk::Item& item, std::uint64_t size, std::uint64_t declared) {
  std::uint64_t written = 0;
  const ContentRead read = readWhole(item.content, size, [&](const std::uint8_t* data, std::size_t length) {
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(length, declared - written));
    if (!tar_.data(data, take)) {
      broken_ = true;
      return false;
    }
    written += take;
    return true;
  });
  if (!broken_ && !tar_.zeros(declared - written)) broken_ = true;
  if (read.damaged && !broken_) report(Message::DamagedItem, item.path);
}

}  // namespace

int exportTar(CommandContext& context) {
  const Options& options = context.options;
  // The writer converts names through the character type of the locale: UTF-8, which pax headers
  // hold, is what it must be, whatever the user's locale.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  // The file outlives the tar writer, which may still flush into it when it goes.
  std::optional<FileWriter> file;
  TarWriter tar;
  if (!openOutput(options, tar, file)) return ExitCode::NotFound;

  const ItemSelection::Totals totals = context.selection.totals();
  Progress progress(!options.quiet, totals.items, totals.bytes);
  ItemExporter exporter(tar, progress, context.archive.container().archiveFile().fileSize());
  ContentWalk walk(context.archive);
  ContentWalk::Visits visits;
  visits.absent = [&](const OutputPlan::Absent& absent) {
    exporter.report(Message::CannotExtract, absent.path, absent.reason);
  };
  for (std::size_t start = 0; start < context.selection.starts().size(); ++start) {
    const OutputPlan plan = context.selection.plan(start);
    visits.item = [&](const ContentWalk::Item& item) { exporter.exportItem(plan, item); };
    walk.run(plan, visits);
  }
  progress.finish();
  if (exporter.broken() || !tar.close()) {
    if (standardOutputError() != 0) return ExitCode::WriteError;  // told as the run ends
    reportCannotWrite(options, tar.error());
    return ExitCode::ExtractedWithErrors;  // the temporary file goes with the writer
  }
  const std::int64_t now = std::time(nullptr);
  if (file && !file->commit(now, now, FileFlags{})) {
    reportCannotWrite(options, systemErrorText(file->error()));
    return ExitCode::ExtractedWithErrors;
  }
  return exporter.problems() ? ExitCode::ExtractedWithErrors : 0;
}

}  // namespace sorvel::tool
