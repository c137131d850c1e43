#pragma once
// Builds complete test archives from a description of their tree, byte for byte: header, key
// block, chain table and encrypted storage blocks. Blocks are handed out in order from block 2
// (the root directory first, then the items in the order they were added), except where a test
// lays a chain out itself. A description that cannot be built (a block claimed twice, a chain too
// short for its data, ...) is reported as a test failure and yields nothing.
//
//   ArchiveBuilder builder;
//   builder.settings.password = bytesOf("secret");
//   builder.addFile(u"docs\\a.txt", "hello").modified = 1700000000;
//   builder.addFile(u"b.bin", Bytes(40000, 0x5A)).blocks = BlockList{9, 3, 4};
//   builder.writeTo(dir / "test.arc");
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/Bytes.h"
#include "support/ArchiveDescription.h"
#include "support/ArchiveLayout.h"
#include "support/DetailFileBuilder.h"

namespace sorvel::testing {

class ArchiveBuilder {
 public:
  ArchiveSettings settings;
  DirectoryOptions rootDirectory;

  // Paths are backslash-separated; a leading backslash is ignored. Missing parent folders are
  // added first. The returned reference stays valid while the builder lives.
  Item& addFolder(std::u16string_view path);  // an existing folder of exactly that path is reused
  Item& addFile(std::u16string_view path, Bytes content = {});
  Item& addFile(std::u16string_view path, std::string_view text);
  Item& addGeneratedFile(std::u16string_view path, std::uint64_t size, ContentGenerator generator);
  // The folder's "valdo_item_detail.deposit" file, holding the table `contents` describes.
  Item& addDetailFile(std::u16string_view folderPath, const DetailFileContents& contents);

  const std::deque<Item>& items() const { return items_; }

  std::optional<ArchiveLayout> layout() const;
  Bytes build() const;
  // Streams the archive block by block, so that generated content is never held whole.
  bool writeTo(const std::filesystem::path& path) const;

 private:
  Item& addItem(std::u16string_view path, bool isFolder);
  void addMissingParents(std::u16string_view path);
  Item* findFolder(std::u16string_view path);

  std::deque<Item> items_;
  std::unordered_map<std::u16string, std::size_t> folders_;  // index in items_, by path as added
};

}  // namespace sorvel::testing
