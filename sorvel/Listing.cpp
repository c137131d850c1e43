#include "sorvel/Listing.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <utility>

#include "app/ShownPath.h"
#include "platform/TerminalText.h"
#include "platform/Utf16.h"
#include "sorvel/StandardOutput.h"
#include "tree/NameRules.h"

namespace sorvel::tool {
namespace {

// How the text listing marks an item that extraction leaves out.
std::string leftOutNote(std::string_view reason) { return "  (left out: " + terminalSafe(reason) + ")"; }
// The columns of an item that has no record (the tree left it out).
constexpr std::string_view kAbsentColumns = "?\?\?\?\?            ? \?\?\?\?-\?\?-\?\? \?\?:\?\? ";

struct NamedAttribute {
  std::uint8_t bit;
  char letter;
  std::string_view name;
};
constexpr NamedAttribute kAttributes[] = {
    {kReadOnlyAttribute, 'r', "readOnly"},
    {kHiddenAttribute, 'h', "hidden"},
    {kSystemAttribute, 's', "system"},
    {kArchiveAttribute, 'a', "archive"},
};

// The attribute letters: read-only, hidden, system, archive; '-' where the bit is clear.
std::string attributeLetters(std::uint8_t attributes) {
  std::string letters;
  for (const NamedAttribute& attribute : kAttributes)
    letters += (attributes & attribute.bit) != 0 ? attribute.letter : '-';
  return letters;
}

// The time in `format`, local or UTC; nothing when the host cannot tell it.
std::string formattedTime(std::int64_t unixSeconds, const char* format, bool utc) {
  const auto seconds = static_cast<std::time_t>(unixSeconds);
  std::tm broken{};
  char text[64];
  if (static_cast<std::int64_t>(seconds) != unixSeconds ||
      (utc ? ::gmtime_r(&seconds, &broken) : ::localtime_r(&seconds, &broken)) == nullptr ||
      std::strftime(text, sizeof text, format, &broken) == 0) {
    return {};
  }
  return text;
}

std::string localMinute(std::int64_t unixSeconds) {
  const std::string text = formattedTime(unixSeconds, "%Y-%m-%d %H:%M", false);
  return text.empty() ? "\?\?\?\?-\?\?-\?\? \?\?:\?\?" : text;
}

void writeTime(JsonWriter& json, std::string_view name, std::int64_t unixSeconds) {
  json.key(name).number(unixSeconds);
  const std::string utc = formattedTime(unixSeconds, "%Y-%m-%dT%H:%M:%SZ", true);
  json.key(std::string(name) + "Utc");
  if (utc.empty()) {
    json.null();
  } else {
    json.string(utc);
  }
}

std::string countsText(const ListingTotals& totals) {
  std::string text = std::to_string(totals.files) + " files, " + std::to_string(totals.folders) + " folders, " +
                     std::to_string(totals.bytes) + " bytes";
  if (totals.leftOut > 0) text += ", " + std::to_string(totals.leftOut) + " left out";
  return text;
}

}  // namespace

void ListingTotals::add(const ListedItem& item) {
  if (!item.leftOut.empty() || item.record == nullptr) {
    ++leftOut;
  } else if (item.record->isFolder()) {
    ++folders;
  } else {
    ++files;
    bytes += item.record->size();
  }
}

Listing::Listing(Form form, std::string_view archive, bool quiet) : form_(form), archive_(archive), quiet_(quiet) {}

void Listing::begin() {
  if (form_ != Form::JsonDocument) return;
  json_.clear();
  json_.beginObject().key("archive").string(archive_).key("items");
  writeOut(json_.text() + "[");
}

void Listing::item(const ListedItem& item) {
  totals_.add(item);
  if (form_ == Form::Text) {
    writeOut(textLine(item));
    return;
  }
  json_.clear();
  writeItemJson(json_, item);
  if (form_ == Form::JsonLines) {
    writeOut(json_.text() + "\n");
    return;
  }
  writeOut((firstItem_ ? "\n" : ",\n") + json_.text());
  firstItem_ = false;
}

void Listing::end() {
  switch (form_) {
    case Form::Text:
      if (!quiet_) writeOut(countsText(totals_) + "\n");
      return;
    case Form::JsonLines:
      return;
    case Form::JsonDocument:
      json_.clear();
      json_.beginObject()
          .key("files")
          .unsignedNumber(totals_.files)
          .key("folders")
          .unsignedNumber(totals_.folders)
          .key("bytes")
          .unsignedNumber(totals_.bytes)
          .key("leftOut")
          .unsignedNumber(totals_.leftOut)
          .endObject();
      writeOut(std::string(firstItem_ ? "" : "\n") + "],\"totals\":" + json_.text() + "}\n");
      return;
  }
}

std::string Listing::textLine(const ListedItem& item) const {
  const std::string shown = terminalSafe(shownPath(item.path, PathStyle::Slash));
  if (item.record == nullptr) return std::string(kAbsentColumns) + shown + leftOutNote(item.leftOut) + "\n";
  const ItemRecord& record = *item.record;
  const bool folder = record.isFolder();
  char size[24];
  std::snprintf(size, sizeof size, "%12" PRIu64, folder ? std::uint64_t{0} : record.size());
  return std::string(1, folder ? 'd' : '-') + attributeLetters(record.attributes()) + " " + size + " " +
         localMinute(record.modified) + " " + shown + (folder ? "/" : "") +
         (item.leftOut.empty() ? "" : leftOutNote(item.leftOut)) + "\n";
}

void Listing::writeItemJson(JsonWriter& json, const ListedItem& item) {
  json.beginObject().key("path").string(shownPath(item.path, PathStyle::Slash)).key("names").beginArray();
  forEachComponent(item.path, [&](std::u16string_view name) {
    json.string(toUtf8Lossy(name));
    return true;
  });
  json.endArray();
  if (item.record != nullptr) {
    const ItemRecord& record = *item.record;
    json.key("type").string(record.isFolder() ? "folder" : "file");
    json.key("size").unsignedNumber(record.size());
    json.key("attributes").unsignedNumber(record.attributes());
    for (const NamedAttribute& attribute : kAttributes) {
      json.key(attribute.name).boolean((record.attributes() & attribute.bit) != 0);
    }
    writeTime(json, "created", record.created);
    writeTime(json, "modified", record.modified);
    writeTime(json, "accessed", record.accessed);
    json.key("first_block").unsignedNumber(record.firstBlock());
    json.key("damaged").boolean(item.damaged && item.leftOut.empty());
  }
  if (!item.leftOut.empty()) json.key("leftOut").string(item.leftOut);
  json.endObject();
}

}  // namespace sorvel::tool
