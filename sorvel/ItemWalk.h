#pragma once
// Walks over the items of an opened archive for the tool's commands. ContentWalk reads every
// file's content, decrypted ahead on other threads, in the order and with the block claims of
// extraction, so that what it reports as damaged is what extraction reports.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/OutputPlan.h"
#include "archive/Archive.h"
#include "archive/ContentPipeline.h"
#include "archive/ContentSource.h"

namespace sorvel::tool {

// Walks an output plan in listing order: the start item, then every item below it, each item
// the tree left out told where extraction tells it. Files to be written come with their content,
// decrypted ahead on other threads with the block claims of extraction, so that what the walk
// finds damaged is what extraction finds damaged.
class ContentWalk {
 public:
  struct Item {
    std::u16string_view path;
    const PlannedItem& planned;
    const ItemRecord& record;
    // The file's content, to be read to its end or abandoned; null for folders, empty files and
    // items that are not written.
    ContentSource* content;
  };
  struct Visits {
    std::function<void(const Item& item)> item;
    std::function<void(const OutputPlan::Absent& absent)> absent;
  };

  explicit ContentWalk(Archive& archive, ContentPipeline::Options pipeline = {})
      : archive_(archive), pipeline_(pipeline) {}

  // Item detail files are left out.
  void run(const OutputPlan& plan, const Visits& visits);

 private:
  Archive& archive_;
  ContentPipeline::Options pipeline_;
};

// What reading one file's whole content gave.
struct ContentRead {
  std::uint64_t delivered = 0;
  bool damaged = false;  // less than the recorded size came
};
// Reads `content` (null: nothing to read) to its end, handing each piece to `sink`.
ContentRead readWhole(ContentSource* content, std::uint64_t size,
                      const std::function<bool(const std::uint8_t* data, std::size_t size)>& sink);

}  // namespace sorvel::tool
