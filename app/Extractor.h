#pragma once
// Writes an archive's folders and files below an output folder: folders as directories, files
// with their content, times and read-only attribute. The walk goes on past every item that
// fails, and reports each one through `report`, in listing order.
//
// Every folder is reached from the output folder one name at a time, never through a symbolic
// link, and files are created inside their open folder: nothing is written outside the output
// folder, whatever it already holds.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/ContentPipeline.h"
#include "archive/ContentSource.h"
#include "platform/FileWriter.h"
#include "platform/HostNames.h"
#include "platform/OutputFolders.h"

namespace sorvel {

class Extractor {
 public:
  using ReportLine = std::function<void(const std::string& line)>;

  // One item reported: the line's leading words, the item, and why (printed at the end of a
  // can-not-extract line; a damage line leaves it out).
  struct Problem {
    std::string_view what;
    std::u16string path;
    std::string reason;
  };

  Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline = {});

  // Extracts the item at `pathInArchive` and, for a folder, everything below it, in listing
  // order. Answers the result for the starting item alone: true for a folder found, a file
  // written.
  bool extract(std::u16string_view pathInArchive, const std::string& outputFolder);
  // Writes one item below the output folder of the walk in progress; never descends.
  bool extractItem(std::u16string_view pathInArchive);

  // True once any item was reported as not written or damaged.
  bool reportedProblems() const { return !problems_.empty(); }
  const std::vector<Problem>& problems() const { return problems_; }

  // What happens to a file of the same name already in the output tree: replaced unless it is
  // read-only (the default), replaced even then, or kept and reported as not extracted.
  enum class ExistingFiles { ReplaceWritable, ReplaceAll, Keep };
  void setExistingFiles(ExistingFiles policy) { existingFiles_ = policy; }

  // Called after each item of a walk with its path; tests change the output tree there.
  void setAfterItem(std::function<void(std::u16string_view pathInArchive)> hook) { afterItem_ = std::move(hook); }

 private:
  bool writeItem(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content);
  bool writeFolder(std::u16string_view pathInArchive, const std::vector<std::string>& names);
  bool writeFile(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content,
                 const std::vector<std::string>& names);
  // The item's folder names below the output folder.
  std::vector<std::string> outputNames(std::u16string_view pathInArchive) const;
  // Why the host cannot hold the item's path: a name it cannot hold, or one it would take for a
  // different one already written by this walk (everything below such a name is refused too).
  std::optional<std::string> hostRefusal(std::u16string_view pathInArchive) const;
  void noteWritten(std::u16string_view pathInArchive);
  bool reportItem(std::string_view what, std::u16string_view pathInArchive, std::string reason);
  // Reports the items the tree left out that are told right after `item`.
  void reportLeftOut(const ItemRecord* item);
  // Applies the policy on existing files to `name` in `folder`: empty when the file may be
  // written, else why not.
  std::string prepareTarget(const DirectoryHandle& folder, const std::string& name) const;

  Archive& archive_;
  ReportLine report_;
  ContentPipeline::Options pipelineOptions_;
  std::string outputBase_;
  OutputFolders folders_;
  WrittenNames written_;
  std::vector<Problem> problems_;
  std::multimap<const ItemRecord*, const LeftOutItem*> leftOutAfter_;  // by the item they follow
  std::function<void(std::u16string_view)> afterItem_;
  ExistingFiles existingFiles_ = ExistingFiles::ReplaceWritable;
};

}  // namespace sorvel
