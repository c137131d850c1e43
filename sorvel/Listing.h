#pragma once
// `sorvel list`'s output: the items of an archive as the output plan tells them, in one of three
// forms, and their totals.
//
// - Text: one aligned line per item, then (unless quiet) a totals line, "5 files, 3 folders,
//   100029 bytes", with ", 2 left out" when extraction would leave items out.
// - A JSON document: {"archive": ..., "items": [...], "totals": {...}}, an item per line.
// - JSON lines: one object per item and line, nothing else, for streaming.
//
// Files, folders and bytes count what extraction writes; items it leaves out (the tree's, those
// it refuses, files whose content cannot be read) are counted apart, as left out.
#include <cstdint>
#include <string>
#include <string_view>

#include "sorvel/JsonWriter.h"
#include "tree/ItemRecord.h"

namespace sorvel::tool {

// What the listing tells of one item.
struct ListedItem {
  std::u16string_view path;            // in the archive ("\docs\a.txt")
  const ItemRecord* record = nullptr;  // null for an item the tree left out: it has no record
  bool damaged = false;                // a file whose content stops short, a folder whose directory is damaged
  std::string_view leftOut;            // why extraction leaves it out; empty when it is written
};

struct ListingTotals {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes = 0;  // the recorded sizes of the files counted
  std::uint64_t leftOut = 0;

  void add(const ListedItem& item);
};

class Listing {
 public:
  enum class Form { Text, JsonDocument, JsonLines };

  // `archive`: the archive as named on the command line, for the JSON document; `quiet` leaves
  // the text's totals line out.
  Listing(Form form, std::string_view archive, bool quiet);

  // Each writes its text to standard output (StandardOutput.h).
  void begin();
  void item(const ListedItem& item);
  void end();

  const ListingTotals& totals() const { return totals_; }

  // An item's JSON object (see the manual page): its path as the tool shows it and its names as
  // the archive holds them, its record's fields, times both as Unix seconds and ISO 8601 UTC,
  // the attribute bits by name, and whether it is damaged or left out.
  static void writeItemJson(JsonWriter& json, const ListedItem& item);

 private:
  std::string textLine(const ListedItem& item) const;

  Form form_;
  std::string archive_;
  bool quiet_;
  bool firstItem_ = true;
  ListingTotals totals_;
  JsonWriter json_;
};

}  // namespace sorvel::tool
