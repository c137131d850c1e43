#include "sorvel/TarWriter.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "sorvel/StandardOutput.h"

namespace sorvel::tool {
namespace {

constexpr std::size_t kZeroChunk = 64 * 1024;

struct EntryDeleter {
  void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

la_ssize_t writeToFile(struct archive* writer, void* file, const void* bytes, size_t size) {
  FileWriter& output = *static_cast<FileWriter*>(file);
  if (output.write(static_cast<const std::uint8_t*>(bytes), size)) return static_cast<la_ssize_t>(size);
  archive_set_error(writer, output.error(), "%s", systemErrorText(output.error()).c_str());
  return -1;
}

// Standard output is written through the tool's one channel, which keeps the error.
la_ssize_t writeToStandardOutput(struct archive* writer, void*, const void* bytes, size_t size) {
  if (writeOut(bytes, size)) return static_cast<la_ssize_t>(size);
  archive_set_error(writer, standardOutputError(), "%s", systemErrorText(standardOutputError()).c_str());
  return -1;
}

}  // namespace

void TarWriter::Free::operator()(struct archive* writer) const { archive_write_free(writer); }

TarWriter::TarWriter() : writer_(archive_write_new()) {
  archive_write_set_format_pax(writer_.get());
#ifdef _WIN32
  // Names as given, UTF-8, converted through no code page (the header then says so).
  archive_write_set_format_option(writer_.get(), "pax", "hdrcharset", "BINARY");
#endif
  archive_write_set_bytes_in_last_block(writer_.get(), 1);
}

bool TarWriter::openStandardOutput() {
  return check(archive_write_open2(writer_.get(), nullptr, nullptr, writeToStandardOutput, nullptr, nullptr));
}

bool TarWriter::openPath(const std::string& path) {
#ifdef _WIN32
  // A narrow name would be read in the system's code page, not as UTF-8.
  const std::u16string units = toUtf16(path);
  return check(archive_write_open_filename_w(writer_.get(), std::wstring(units.begin(), units.end()).c_str()));
#else
  return check(archive_write_open_filename(writer_.get(), path.c_str()));
#endif
}

bool TarWriter::openWriter(FileWriter& file) {
  return check(archive_write_open2(writer_.get(), &file, nullptr, writeToFile, nullptr, nullptr));
}

bool TarWriter::close() { return check(archive_write_close(writer_.get())); }

std::string TarWriter::error() const {
  const char* text = archive_error_string(writer_.get());
  return text != nullptr ? text : "write failed";
}

bool TarWriter::header(const std::string& path, const ItemRecord& record, std::uint64_t size, std::uint64_t stored) {
  std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
  const bool folder = record.isFolder();
#ifdef _WIN32
  // On Windows libarchive takes every name through the C runtime's code page, which holds few of
  // the names an archive may have: the UTF-8 bytes are written as they are (see the constructor).
  archive_entry_copy_pathname(entry.get(), path.c_str());
#else
  archive_entry_set_pathname_utf8(entry.get(), path.c_str());
#endif
  archive_entry_set_filetype(entry.get(), folder ? AE_IFDIR : AE_IFREG);
  unsigned mode = folder ? 0755 : 0644;
  if ((record.attributes() & kReadOnlyAttribute) != 0) mode &= ~0222u;
  archive_entry_set_perm(entry.get(), static_cast<__LA_MODE_T>(mode));
  archive_entry_set_size(entry.get(), folder ? 0 : static_cast<la_int64_t>(size));
  // The map lists the data: the stored bytes, then an empty run at the end, which gives a map
  // even when nothing is stored. Set after the size, which bounds every run.
  if (!folder && stored < size) {
    if (stored > 0) archive_entry_sparse_add_entry(entry.get(), 0, static_cast<la_int64_t>(stored));
    archive_entry_sparse_add_entry(entry.get(), static_cast<la_int64_t>(size), 0);
  }
  archive_entry_set_mtime(entry.get(), static_cast<time_t>(record.modified), 0);
  archive_entry_set_atime(entry.get(), static_cast<time_t>(record.accessed), 0);
  return check(archive_write_header(writer_.get(), entry.get()));
}

bool TarWriter::data(const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const la_ssize_t written = archive_write_data(writer_.get(), bytes, size);
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool TarWriter::zeros(std::uint64_t count) {
  static const std::uint8_t kZeros[kZeroChunk] = {};
  while (count > 0) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count, kZeroChunk));
    if (!data(kZeros, chunk)) return false;
    count -= chunk;
  }
  return true;
}

bool TarWriter::check(int status) const { return status == ARCHIVE_OK || status == ARCHIVE_WARN; }

}  // namespace sorvel::tool
