// export: the archive's tree as a POSIX (pax) tar stream, written by libarchive.
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string_view>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "app/OutputPath.h"
#include "app/OutputPlan.h"
#include "platform/Console.h"
#include "platform/TerminalText.h"
#include "platform/Utf16.h"
#include "sorvel/Commands.h"
#include "sorvel/ItemWalk.h"
#include "sorvel/Progress.h"
#include "sorvel/Tool.h"

namespace sorvel::tool {
namespace {

constexpr std::size_t kZeroChunk = 64 * 1024;

struct WriterDeleter {
  void operator()(struct archive* writer) const { archive_write_free(writer); }
};
struct EntryDeleter {
  void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

// The tar writer and whether it still works.
class TarWriter {
 public:
  TarWriter() : writer_(archive_write_new()) {
    archive_write_set_format_pax(writer_.get());
    archive_write_set_bytes_in_last_block(writer_.get(), 1);
  }
  bool openFd(int fd) { return check(archive_write_open_fd(writer_.get(), fd)); }
  bool openFile(const std::string& path) { return check(archive_write_open_filename(writer_.get(), path.c_str())); }
  bool close() { return check(archive_write_close(writer_.get())); }
  std::string error() const {
    const char* text = archive_error_string(writer_.get());
    return text != nullptr ? text : "write failed";
  }

  // One entry's header: a folder's path ends with "/". Mode 0755 or 0644, without the write
  // bits for a read-only item.
  bool header(const std::string& path, const ItemRecord& record, std::uint64_t size) {
    std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
    const bool folder = record.isFolder();
    archive_entry_set_pathname_utf8(entry.get(), path.c_str());
    archive_entry_set_filetype(entry.get(), folder ? AE_IFDIR : AE_IFREG);
    unsigned mode = folder ? 0755 : 0644;
    if ((record.attributes() & kReadOnlyAttribute) != 0) mode &= ~0222u;
    archive_entry_set_perm(entry.get(), static_cast<__LA_MODE_T>(mode));
    archive_entry_set_size(entry.get(), folder ? 0 : static_cast<la_int64_t>(size));
    archive_entry_set_mtime(entry.get(), static_cast<time_t>(record.modified), 0);
    archive_entry_set_atime(entry.get(), static_cast<time_t>(record.accessed), 0);
    return check(archive_write_header(writer_.get(), entry.get()));
  }
  bool data(const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
      const la_ssize_t written = archive_write_data(writer_.get(), bytes, size);
      if (written <= 0) return false;
      bytes += written;
      size -= static_cast<std::size_t>(written);
    }
    return true;
  }
  bool zeros(std::uint64_t count) {
    static const std::uint8_t kZeros[kZeroChunk] = {};
    while (count > 0) {
      const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count, kZeroChunk));
      if (!data(kZeros, chunk)) return false;
      count -= chunk;
    }
    return true;
  }

 private:
  bool check(int status) const { return status == ARCHIVE_OK || status == ARCHIVE_WARN; }
  std::unique_ptr<struct archive, WriterDeleter> writer_;
};

}  // namespace

int exportTar(CommandContext& context) {
  const Options& options = context.options;
  const std::string& output = options.outputFile;
  if (output.empty() && ::isatty(STDOUT_FILENO) == 1) {
    std::fprintf(stderr,
                 "sorvel: not writing a tar stream to a terminal; name a file with -o FILE, or '-'\n"
                 "Try 'sorvel --help' for more information.\n");
    return kUsageError;
  }
  // The writer converts names through the character type of the locale: UTF-8, which pax headers
  // hold, is what it must be, whatever the user's locale.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  TarWriter tar;
  const bool toStdout = output.empty() || output == "-";
  if (!(toStdout ? tar.openFd(STDOUT_FILENO) : tar.openFile(output))) {
    std::fprintf(stderr, "sorvel: can not write %s: %s\n", terminalSafe(output).c_str(), tar.error().c_str());
    return kNotFound;
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
      // and for a short chain zeros up to the recorded size, as extraction writes it.
      const std::uint64_t declared =
          size == 0 ? 0
                    : contentOutcome(size, item.content->expected(), item.content->expected(), item.content->end(),
                                     archiveSize)
                          .length;
      const std::string path = displayPath(item.path) + (item.record.isFolder() ? "/" : "");
      if (!tar.header(path, item.record, declared)) {
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
    std::fprintf(stderr, "sorvel: can not write %s: %s\n",
                 toStdout ? "standard output" : terminalSafe(output).c_str(), tar.error().c_str());
    return ExitCode::ExtractedWithErrors;
  }
  return problems ? ExitCode::ExtractedWithErrors : 0;
}

}  // namespace sorvel::tool
