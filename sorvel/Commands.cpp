#include "sorvel/Commands.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string_view>
#include <utility>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "app/Extractor.h"
#include "app/OutputPath.h"
#include "app/OutputPlan.h"
#include "platform/Console.h"
#include "platform/OutputFolders.h"
#include "platform/SystemError.h"
#include "platform/TerminalText.h"
#include "platform/Utf16.h"
#include "sorvel/ItemWalk.h"
#include "sorvel/Listing.h"
#include "sorvel/Progress.h"
#include "sorvel/StandardOutput.h"
#include "sorvel/Tool.h"
#include "tree/FolderTree.h"
#include "tree/ItemRecord.h"

namespace sorvel::tool {
namespace {

constexpr std::string_view kDamagedItem = Message::DamagedItem;
constexpr std::string_view kDamagedFolder = Message::DamagedFolder;

bool isRoot(std::u16string_view path) { return path == kRootPath; }

// Damage and refusal lines, on standard error through the console, the progress line out of
// their way.
struct Reporter {
  Progress* progress = nullptr;
  void operator()(const std::string& line) const {
    if (progress != nullptr) progress->interrupt();
    Console::standard().line(line);
  }
};

// The items and bytes the progress line counts: those chosen, the root not counted.
ItemSelection::Totals totalsOf(const CommandContext& context) {
  ItemSelection::Totals totals = context.selection.totals();
  const std::vector<std::u16string>& starts = context.selection.starts();
  totals.items -= static_cast<std::uint64_t>(std::count_if(starts.begin(), starts.end(), isRoot));
  return totals;
}

}  // namespace

int listItems(CommandContext& context) {
  const Options& options = context.options;
  Listing listing(options.jsonLines ? Listing::Form::JsonLines
                  : options.json    ? Listing::Form::JsonDocument
                                    : Listing::Form::Text,
                  options.archive, options.quiet);
  listing.begin();
  for (std::size_t start = 0; start < context.selection.starts().size(); ++start) {
    const OutputPlan plan = context.selection.plan(start);
    const std::vector<ContentOutcome> outcomes = plan.plannedOutcomes(context.archive.container());
    auto listItem = [&](const PlannedItem& item) {
      const std::u16string path = plan.pathOf(item);
      if (isRoot(path)) return;
      const OutputPlan::ItemOutcome outcome = plan.outcomeOf(item, outcomes);
      listing.item(ListedItem{path, &plan.recordOf(item), outcome.damaged, outcome.leftOut});
    };
    auto listAbsent = [&](std::size_t index) {
      for (const OutputPlan::Absent& absent : plan.absentAfter(index, PathStyle::Slash)) {
        listing.item(ListedItem{absent.path, nullptr, false, absent.reason});
      }
    };
    listItem(plan.start());
    listAbsent(OutputPlan::kAfterStart);
    for (std::size_t i = 0; i < plan.items().size(); ++i) {
      if (plan.items()[i].detailFile) continue;
      listItem(plan.items()[i]);
      listAbsent(i);
    }
  }
  listing.end();
  return 0;
}

int testItems(CommandContext& context) {
  const ItemSelection::Totals totals = totalsOf(context);
  Progress progress(!context.options.quiet, totals.items, totals.bytes);
  const Reporter report{&progress};
  std::uint64_t files = 0, folders = 0, bytes = 0, errors = 0;
  auto problem = [&](std::string_view what, std::u16string_view path, std::string_view reason) {
    report(itemLine(what, path, reason, PathStyle::Slash));
    ++errors;
  };
  const std::uint64_t archiveSize = context.archive.container().archiveFile().fileSize();
  ContentWalk walk(context.archive);
  for (std::size_t start = 0; start < context.selection.starts().size(); ++start) {
    const OutputPlan plan = context.selection.plan(start);
    ContentWalk::Visits visits;
    visits.absent = [&](const OutputPlan::Absent& absent) {
      problem(Message::CannotExtract, absent.path, absent.reason);
    };
    visits.item = [&](const ContentWalk::Item& item) {
      const bool root = isRoot(item.path);
      const bool folder = item.record.isFolder();
      const std::uint64_t size = folder ? 0 : item.record.size();
      if (!root) (folder ? folders : files) += 1;
      if (!item.planned.written()) {
        problem(Message::CannotExtract, item.path, plan.reasonOf(item.planned));
        if (!root) progress.advance(1, size);
        return;
      }
      if (folder) {
        if (plan.isDamagedFolder(item.planned)) problem(kDamagedFolder, item.path, {});
        if (!root) progress.advance(1, 0);
        return;
      }
      const ContentRead read = readWhole(item.content, size, [&](const std::uint8_t*, std::size_t length) {
        progress.advance(0, length);
        return true;
      });
      bytes += read.delivered;
      progress.advance(1, size - read.delivered);
      if (size == 0) return;
      const ContentOutcome outcome =
          item.content == nullptr
              ? contentOutcome(size, 0, 0, ChainTable::ContentEnd::Broken, archiveSize)
              : contentOutcome(size, item.content->expected(), read.delivered, item.content->end(), archiveSize);
      if (outcome.unreadable) {
        problem(Message::CannotExtract, item.path, Message::ContentUnreadable);
      } else if (outcome.damaged) {
        problem(kDamagedItem, item.path, {});
      }
    };
    walk.run(plan, visits);
  }
  progress.finish();
  const std::string counts =
      std::to_string(files) + " files, " + std::to_string(folders) + " folders, " + std::to_string(bytes) + " bytes: ";
  if (errors == 0) {
    std::printf("%sOK\n", counts.c_str());
    return 0;
  }
  std::printf("%s%" PRIu64 " error%s\n", counts.c_str(), errors, errors == 1 ? "" : "s");
  return ExitCode::ExtractedWithErrors;
}

int extractItems(CommandContext& context) {
  const Options& options = context.options;
  const ItemSelection::Totals totals = totalsOf(context);
  Progress progress(!options.quiet, totals.items, totals.bytes);
  // The output folder is made first (its parent must exist): without it nothing can be written.
  {
    OutputFolders base;
    OutputFolders::Failure failure;
    if (!base.openBase(options.outputFolder, /*create=*/true, failure)) {
      reportProblem(std::string(Message::CannotCreate) + options.outputFolder + ": " + systemErrorText(failure.error));
      return ExitCode::NotFound;
    }
  }
  Extractor extractor(context.archive, Reporter{&progress});
  extractor.giveFoldersTheirTimes(true);  // as tar does
  extractor.setPathStyle(PathStyle::Slash);
  // Existing files are replaced, read-only ones too (--overwrite says so), unless kept.
  if (options.keep) extractor.setExistingFiles(Extractor::ExistingFiles::Keep);

  std::size_t problemsSeen = 0;
  std::size_t keptSeen = 0;
  std::uint64_t filesWritten = 0;
  auto afterItem = [&](std::u16string_view path) {
    const auto& problems = extractor.problems();
    bool written = true;
    for (std::size_t i = problemsSeen; i < problems.size(); ++i) {
      if (problems[i].path == path && problems[i].what.starts_with(Message::CannotExtract)) written = false;
    }
    problemsSeen = problems.size();
    const bool kept = extractor.kept().size() > keptSeen && extractor.kept().back() == path;
    keptSeen = extractor.kept().size();
    if (isRoot(path)) return;
    ItemRecord record;
    context.archive.findItem(path, record);
    progress.advance(1, record.isFolder() ? 0 : record.size());
    if (written && !kept && !record.isFolder()) ++filesWritten;
    if (written && options.verbose && !options.quiet) {
      progress.interrupt();
      writeOut(terminalSafe(shownPath(path, PathStyle::Slash)) +
               (record.isFolder() ? "/"
                : kept            ? std::string(Message::KeptNote)
                                  : std::string()) +
               "\n");
      flushOut();
    }
  };
  extractor.setAfterItem(afterItem);

  for (std::size_t index = 0; index < context.selection.starts().size(); ++index) {
    // A named item lands at its full path: the output folder and those above it are made first.
    const OutputPlan plan = context.selection.plan(index);
    extractor.extractAtFullPath(plan, options.outputFolder);
    if (!plan.isFolder(plan.start())) afterItem(context.selection.starts()[index]);  // a walk calls it for folders only
  }
  progress.finish();
  if (options.keep && !options.quiet) {
    writeOut(std::to_string(filesWritten) + std::string(Message::FilesWritten) +
             std::to_string(extractor.kept().size()) + std::string(Message::ExistingFilesKept) + "\n");
  }
  if (extractor.reportedProblems()) {
    reportProblem(std::string(Message::ToolExtractedWithErrors));
    return ExitCode::ExtractedWithErrors;
  }
  return 0;
}

int catItems(CommandContext& context) {
  const ItemSelection::Totals totals = totalsOf(context);
  Progress progress(!context.options.quiet, totals.items, totals.bytes);
  const Reporter report{&progress};
  bool writeFailed = false;
  bool problems = false;
  auto problem = [&](std::string_view what, std::u16string_view path, std::string_view reason) {
    report(itemLine(what, path, reason, PathStyle::Slash));
    problems = true;
  };
  ContentWalk walk(context.archive);
  for (std::size_t start = 0; start < context.selection.starts().size() && !writeFailed; ++start) {
    const OutputPlan plan = context.selection.plan(start);
    if (plan.isFolder(plan.start())) {
      progress.interrupt();
      reportProblem(std::string(Message::NotAFile) + shownPath(plan.pathOf(plan.start()), PathStyle::Slash));
      problems = true;
      continue;
    }
    ContentWalk::Visits visits;
    visits.absent = [](const OutputPlan::Absent&) {};
    visits.item = [&](const ContentWalk::Item& item) {
      const std::uint64_t size = item.record.size();
      if (!item.planned.written()) {
        problem(Message::CannotExtract, item.path, plan.reasonOf(item.planned));
        progress.advance(1, size);
        return;
      }
      const ContentRead read = readWhole(item.content, size, [&](const std::uint8_t* data, std::size_t length) {
        if (!writeOut(data, length)) {
          writeFailed = true;
          return false;
        }
        progress.advance(0, length);
        return true;
      });
      progress.advance(1, size - read.delivered);
      if (writeFailed) return;
      if (size > 0 && read.delivered == 0) {
        problem(Message::CannotExtract, item.path, Message::ContentUnreadable);
      } else if (read.damaged) {
        problem(kDamagedItem, item.path, {});
      }
    };
    walk.run(plan, visits);
  }
  progress.finish();
  if (writeFailed) return ExitCode::WriteError;  // told as the run ends
  return problems ? ExitCode::ExtractedWithErrors : 0;
}

}  // namespace sorvel::tool
