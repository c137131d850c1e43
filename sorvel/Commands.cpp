#include "sorvel/Commands.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
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
#include "sorvel/Progress.h"
#include "sorvel/Tool.h"
#include "tree/FolderTree.h"
#include "tree/ItemRecord.h"

namespace sorvel::tool {
namespace {

constexpr std::string_view kDamagedItem = Message::DamagedItem;
constexpr std::string_view kDamagedFolder = Message::DamagedFolder;

bool isRoot(std::u16string_view path) { return path == kRootPath; }

// How the text listing marks an item that extraction leaves out.
std::string leftOutNote(std::string_view reason) { return "  (left out: " + terminalSafe(reason) + ")"; }
// The columns of an item that has no record (the tree left it out).
constexpr std::string_view kAbsentColumns = "?\?\?\?\?            ? \?\?\?\?-\?\?-\?\? \?\?:\?\? ";

// The attribute letters: read-only, hidden, system, archive; '-' where the bit is clear.
std::string attributeLetters(std::uint8_t attributes) {
  const std::pair<std::uint8_t, char> marks[] = {
      {kReadOnlyAttribute, 'r'}, {kHiddenAttribute, 'h'}, {kSystemAttribute, 's'}, {kArchiveAttribute, 'a'}};
  std::string letters;
  for (const auto& [bit, mark] : marks) letters += (attributes & bit) != 0 ? mark : '-';
  return letters;
}

std::string localMinute(std::int64_t unixSeconds) {
  const auto seconds = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  char text[32];
  if (static_cast<std::int64_t>(seconds) != unixSeconds || ::localtime_r(&seconds, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0) {
    return "\?\?\?\?-\?\?-\?\? \?\?:\?\?";
  }
  return text;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Damage and refusal lines, on standard error through the console, the progress line out of
// their way.
struct Reporter {
  Progress* progress = nullptr;
  void operator()(const std::string& line) const {
    if (progress != nullptr) progress->interrupt();
    Console::standard().line(line);
  }
};

WalkTotals totalsOf(const CommandContext& context) {
  WalkTotals totals;
  for (const std::u16string& start : context.starts) {
    const WalkTotals part = countTree(context.archive, start);
    totals.items += part.items - (isRoot(start) ? 1 : 0);
    totals.bytes += part.bytes;
  }
  return totals;
}

}  // namespace

namespace {

// What extraction would make of each file of a plan, from its planned chain: no reading.
std::vector<ContentOutcome> plannedOutcomes(Archive& archive, const OutputPlan& plan) {
  std::vector<ContentOutcome> outcomes(plan.jobs().size());
  const std::uint64_t archiveSize = archive.container().archiveFile().fileSize();
  plan.planChains(archive.container(), [&](JobIndex job, const ChainTable::ContentChain& chain) {
    outcomes[job] = contentOutcome(plan.jobs()[job].wanted, chain.bytes, chain.bytes, chain.end, archiveSize);
  });
  return outcomes;
}

}  // namespace

int listItems(CommandContext& context) {
  const bool json = context.options.json;
  std::string line;
  auto print = [&] { std::fwrite(line.data(), 1, line.size(), stdout); };
  for (const std::u16string& start : context.starts) {
    const OutputPlan plan(context.archive, start);
    const std::vector<ContentOutcome> outcomes = plannedOutcomes(context.archive, plan);
    auto listItem = [&](const PlannedItem& item) {
      const std::u16string path = plan.pathOf(item);
      if (isRoot(path)) return;
      const ItemRecord& record = plan.recordOf(item);
      const bool folder = record.isFolder();
      const ContentOutcome outcome = item.job == kNoJob ? ContentOutcome{} : outcomes[item.job];
      std::string leftOut = plan.reasonOf(item);
      if (leftOut.empty() && outcome.unreadable) leftOut = Message::ContentUnreadable;
      const bool damaged = folder ? plan.isDamagedFolder(item) : outcome.damaged;
      const std::string shown = displayPath(path);
      if (json) {
        line = "{\"path\":" + jsonString(shown) + ",\"type\":\"" + (folder ? "folder" : "file") +
               "\",\"size\":" + std::to_string(record.size()) +
               ",\"attributes\":" + std::to_string(record.attributes()) +
               ",\"created\":" + std::to_string(record.created) + ",\"modified\":" + std::to_string(record.modified) +
               ",\"accessed\":" + std::to_string(record.accessed) +
               ",\"first_block\":" + std::to_string(record.firstBlock()) +
               ",\"damaged\":" + (damaged && leftOut.empty() ? "true" : "false") +
               (leftOut.empty() ? "" : ",\"leftOut\":" + jsonString(leftOut)) + "}\n";
      } else {
        char size[24];
        std::snprintf(size, sizeof size, "%12" PRIu64, folder ? std::uint64_t{0} : record.size());
        line = std::string(1, folder ? 'd' : '-') + attributeLetters(record.attributes()) + " " + size + " " +
               localMinute(record.modified) + " " + terminalSafe(shown) + (folder ? "/" : "") +
               (leftOut.empty() ? "" : leftOutNote(leftOut)) + "\n";
      }
      print();
    };
    auto listAbsent = [&](std::size_t index) {
      for (const OutputPlan::Absent& absent : plan.absentAfter(index)) {
        const std::string shown = displayPath(absent.path);
        line = json ? "{\"path\":" + jsonString(shown) + ",\"leftOut\":" + jsonString(absent.reason) + "}\n"
                    : std::string(kAbsentColumns) + terminalSafe(shown) + leftOutNote(absent.reason) + "\n";
        print();
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
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : ExitCode::ExtractedWithErrors;
}

int testItems(CommandContext& context) {
  const WalkTotals totals = totalsOf(context);
  Progress progress(!context.options.quiet, totals.items, totals.bytes);
  const Reporter report{&progress};
  std::uint64_t files = 0, folders = 0, bytes = 0, errors = 0;
  auto problem = [&](std::string_view what, std::u16string_view path, std::string_view reason) {
    report(itemLine(what, path, reason));
    ++errors;
  };
  const std::uint64_t archiveSize = context.archive.container().archiveFile().fileSize();
  ContentWalk walk(context.archive);
  for (const std::u16string& start : context.starts) {
    const OutputPlan plan(context.archive, start);
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
  const WalkTotals totals = totalsOf(context);
  Progress progress(!options.quiet, totals.items, totals.bytes);
  Extractor extractor(context.archive, Reporter{&progress});
  extractor.giveFoldersTheirTimes(true);  // as tar does
  if (options.overwrite) extractor.setExistingFiles(Extractor::ExistingFiles::ReplaceAll);
  if (options.keep) extractor.setExistingFiles(Extractor::ExistingFiles::Keep);

  std::size_t problemsSeen = 0;
  auto afterItem = [&](std::u16string_view path) {
    const auto& problems = extractor.problems();
    bool written = true;
    for (std::size_t i = problemsSeen; i < problems.size(); ++i) {
      if (problems[i].path == path && problems[i].what.starts_with(Message::CannotExtract)) written = false;
    }
    problemsSeen = problems.size();
    if (isRoot(path)) return;
    ItemRecord record;
    context.archive.findItem(path, record);
    progress.advance(1, record.isFolder() ? 0 : record.size());
    if (written && options.verbose && !options.quiet) {
      progress.interrupt();
      std::printf("%s%s\n", terminalSafe(displayPath(path)).c_str(), record.isFolder() ? "/" : "");
      std::fflush(stdout);
    }
  };
  extractor.setAfterItem(afterItem);

  for (const std::u16string& start : context.starts) {
    ItemRecord record;
    context.archive.findItem(start, record);
    extractor.extractAtFullPath(start, options.outputFolder);
    if (!record.isFolder()) afterItem(start);  // a walk calls it for folders only
  }
  progress.finish();
  if (extractor.reportedProblems()) {
    Console::standard().line(Message::ExtractedWithErrors);
    return ExitCode::ExtractedWithErrors;
  }
  return 0;
}

int catItem(CommandContext& context) {
  const std::u16string& start = context.starts.front();
  ItemRecord record;
  context.archive.findItem(start, record);
  if (record.isFolder()) {
    reportProblem(std::string(Message::NotAFile) + context.options.paths.front());
    return ExitCode::ExtractedWithErrors;
  }
  Progress progress(!context.options.quiet, 1, record.size());
  int writeError = 0;
  ContentRead read;
  std::string refused;
  const OutputPlan plan(context.archive, start);
  ContentWalk::Visits visits;
  visits.absent = [](const OutputPlan::Absent&) {};
  visits.item = [&](const ContentWalk::Item& item) {
    if (!item.planned.written()) {
      refused = plan.reasonOf(item.planned);
      return;
    }
    read = readWhole(item.content, item.record.size(), [&](const std::uint8_t* data, std::size_t size) {
      if (std::fwrite(data, 1, size, stdout) != size) {
        writeError = errno;
        return false;
      }
      progress.advance(0, size);
      return true;
    });
    if (item.record.size() > 0 && read.delivered == 0) refused = Message::ContentUnreadable;
  };
  ContentWalk(context.archive).run(plan, visits);
  if (!refused.empty()) {
    progress.finish();
    Console::standard().line(itemLine(Message::CannotExtract, start, refused));
    return ExitCode::ExtractedWithErrors;
  }
  progress.finish();
  if (std::fflush(stdout) != 0 && writeError == 0) writeError = errno;
  if (writeError != 0) {
    reportProblem(std::string(Message::CannotWrite) + std::string(Message::StandardOutput) + ": " +
                  systemErrorText(writeError));
    return ExitCode::ExtractedWithErrors;
  }
  if (read.damaged) {
    Console::standard().line(std::string(kDamagedItem) + toUtf8Lossy(start));
    return ExitCode::ExtractedWithErrors;
  }
  return 0;
}

}  // namespace sorvel::tool
