#pragma once
// Writes an archive's folders and files below an output folder: folders as directories, files
// with their content, times and read-only attribute. The walk goes on past every item that
// fails, and reports each one through `report`, in listing order.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "archive/Archive.h"
#include "archive/ContentPipeline.h"
#include "archive/ContentSource.h"
#include "platform/DirectoryHandle.h"
#include "platform/FileWriter.h"

namespace sorvel {

class Extractor {
 public:
  using ReportLine = std::function<void(const std::string& line)>;

  Extractor(Archive& archive, ReportLine report, ContentPipeline::Options pipeline = {});

  // Extracts the item at `pathInArchive` and, for a folder, everything below it, in listing
  // order. Answers the result for the starting item alone: true for a folder found, a file
  // written.
  bool extract(std::u16string_view pathInArchive, const std::string& outputFolder);
  // Writes one item below the output folder of the walk in progress; never descends.
  bool extractItem(std::u16string_view pathInArchive);

  // True once any item was reported as not written or damaged.
  bool reportedProblems() const { return reportedProblems_; }

 private:
  struct PlannedItem {
    std::u16string path;
    const ItemRecord* record;  // in the archive's tree
    std::size_t job;           // its content in the pipeline; SIZE_MAX: none
  };

  bool writeItem(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content);
  bool writeFolder(std::u16string_view pathInArchive, const std::string& outputPath);
  bool writeFile(std::u16string_view pathInArchive, const ItemRecord& record, ContentSource* content,
                 const std::string& outputPath);
  std::optional<FileWriter> createFile(const std::string& outputPath);
  void reportItem(std::string_view what, std::u16string_view pathInArchive);

  Archive& archive_;
  ReportLine report_;
  ContentPipeline::Options pipelineOptions_;
  std::string outputBase_;
  DirectoryHandle folder_;  // the folder of the last file created
  bool reportedProblems_ = false;
};

}  // namespace sorvel
