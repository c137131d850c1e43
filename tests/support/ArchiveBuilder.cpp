#include "support/ArchiveBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "base/ByteOrder.h"
#include "support/ArchivePlan.h"
#include "support/ArchiveSealer.h"
#include "support/HeaderEncoder.h"

namespace sorvel::testing {

namespace {

using Sink = std::function<void(const std::uint8_t* data, std::size_t length)>;

// Writes the archive's bytes in file order, at most `plan.clippedSize` of them, then zeros up to
// that size. Only one storage block is in memory at a time.
void emitArchive(const ArchivePlan& plan, const ArchiveSettings& settings, const std::deque<Item>& items,
                 const Sink& sink) {
  std::uint64_t remaining = plan.clippedSize;
  auto put = [&](const std::uint8_t* data, std::uint64_t length) {
    const std::uint64_t take = std::min(length, remaining);
    if (take != 0) sink(data, static_cast<std::size_t>(take));
    remaining -= take;
  };
  const ArchiveLayout& layout = plan.layout;
  const ArchiveSealer sealer(settings);

  const Bytes header = encodeHeader(settings, layout.lastBlock);
  put(header.data(), header.size());
  Bytes keyBlock = encodeKeyBlock(settings, layout.chainEntryCount);
  const Bytes sealedKeyBlock = sealer.sealKeyBlock(keyBlock);
  secureWipe(keyBlock);
  put(sealedKeyBlock.data(), sealedKeyBlock.size());
  Bytes table(4 * std::size_t{layout.chainEntryCount});
  for (std::size_t i = 0; i < layout.chainTable.size(); ++i) storeU32(&table[4 * i], layout.chainTable[i]);
  put(table.data(), table.size());

  Bytes block(disk::kBlockSize);
  for (std::uint32_t b = 2; b <= layout.highestBlock && remaining != 0; ++b) {
    std::fill(block.begin(), block.end(), 0);
    const BlockOwner owner = plan.owners[b];
    if (owner.node != BlockOwner::kFree) {
      const std::uint64_t offset = std::uint64_t{owner.chunk} * disk::kBlockSize;
      if (owner.node == 0 || items[owner.node - 1].isFolder) {
        const Bytes& directory = plan.directories[owner.node];
        if (offset < directory.size()) {
          const std::size_t length = std::min<std::size_t>(disk::kBlockSize, directory.size() - offset);
          std::copy_n(directory.begin() + static_cast<std::ptrdiff_t>(offset), length, block.begin());
        }
      } else {
        const Item& item = items[owner.node - 1];
        const std::uint64_t size = item.contentSize();
        if (offset < size) {
          const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(disk::kBlockSize, size - offset));
          if (item.generator) {
            item.generator(offset, block.data(), length);
          } else {
            std::copy_n(item.content.begin() + static_cast<std::ptrdiff_t>(offset), length, block.begin());
          }
        }
      }
      sealer.sealBlock(block.data(), b);
    }
    put(block.data(), block.size());
  }
  std::fill(block.begin(), block.end(), 0);
  while (remaining != 0) put(block.data(), block.size());
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

Item& ArchiveBuilder::addFolder(std::u16string_view path) {
  if (Item* existing = findFolder(withoutLeadingSeparators(path))) return *existing;
  return addItem(path, true);
}

Item& ArchiveBuilder::addFile(std::u16string_view path, Bytes content) {
  Item& item = addItem(path, false);
  item.content = std::move(content);
  return item;
}

Item& ArchiveBuilder::addFile(std::u16string_view path, std::string_view text) { return addFile(path, bytesOf(text)); }

Item& ArchiveBuilder::addGeneratedFile(std::u16string_view path, std::uint64_t size, ContentGenerator generator) {
  Item& item = addItem(path, false);
  item.generatedSize = size;
  item.generator = std::move(generator);
  return item;
}

Item& ArchiveBuilder::addDetailFile(std::u16string_view folderPath, const DetailFileContents& contents) {
  std::u16string path(withoutLeadingSeparators(folderPath));
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  if (!path.empty()) path += u'\\';
  path += disk::kDetailFileName;
  return addFile(path, detailFileBytes(contents));
}

Item& ArchiveBuilder::addItem(std::u16string_view path, bool isFolder) {
  path = withoutLeadingSeparators(path);
  addMissingParents(path);
  Item& item = items_.emplace_back();
  item.path = std::u16string(path);
  item.isFolder = isFolder;
  if (isFolder) {
    item.attributes = 0;  // stored as the folder bit alone
    folders_.try_emplace(item.path, items_.size() - 1);
  }
  return item;
}

void ArchiveBuilder::addMissingParents(std::u16string_view path) {
  const std::size_t separator = path.rfind(u'\\');
  if (separator == std::u16string_view::npos) return;
  const std::u16string_view parent = path.substr(0, separator);
  if (parent.empty() || findFolder(parent) != nullptr) return;
  addItem(parent, true);
}

Item* ArchiveBuilder::findFolder(std::u16string_view path) {
  const auto found = folders_.find(std::u16string(path));
  return found == folders_.end() ? nullptr : &items_[found->second];
}

std::optional<ArchiveLayout> ArchiveBuilder::layout() const {
  std::string error;
  std::optional<ArchivePlan> plan = planArchive(settings, rootDirectory, items_, error);
  if (!plan) {
    ADD_FAILURE() << "test archive cannot be built: " << error;
    return std::nullopt;
  }
  return std::move(plan->layout);
}

Bytes ArchiveBuilder::build() const {
  std::string error;
  const std::optional<ArchivePlan> plan = planArchive(settings, rootDirectory, items_, error);
  if (!plan) {
    ADD_FAILURE() << "test archive cannot be built: " << error;
    return {};
  }
  Bytes out;
  out.reserve(plan->layout.fileSize);
  emitArchive(*plan, settings, items_,
              [&out](const std::uint8_t* data, std::size_t length) { out.insert(out.end(), data, data + length); });
  for (const auto& patch : settings.patches) {
    if (patch.bytes.empty()) continue;
    const std::uint64_t end = patch.offset + patch.bytes.size();
    if (end > out.size()) out.resize(end);
    std::copy(patch.bytes.begin(), patch.bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(patch.offset));
  }
  return out;
}

bool ArchiveBuilder::writeTo(const std::filesystem::path& path) const {
  std::string error;
  const std::optional<ArchivePlan> plan = planArchive(settings, rootDirectory, items_, error);
  if (!plan) {
    ADD_FAILURE() << "test archive cannot be built: " << error;
    return false;
  }
  {
    FileHandle file(std::fopen(path.string().c_str(), "wb"));
    if (!file) {
      ADD_FAILURE() << "cannot create " << path;
      return false;
    }
    bool written = true;
    emitArchive(*plan, settings, items_, [&](const std::uint8_t* data, std::size_t length) {
      written = written && std::fwrite(data, 1, length, file.get()) == length;
    });
    if (!written || std::fflush(file.get()) != 0) {
      ADD_FAILURE() << "cannot write " << path;
      return false;
    }
  }
  if (settings.patches.empty()) return true;
  FileHandle file(std::fopen(path.string().c_str(), "r+b"));
  bool patched = file != nullptr;
  for (const auto& patch : settings.patches) {
    if (!patched) break;
    patched = fseeko(file.get(), static_cast<off_t>(patch.offset), SEEK_SET) == 0 &&
              std::fwrite(patch.bytes.data(), 1, patch.bytes.size(), file.get()) == patch.bytes.size();
  }
  if (!patched || std::fflush(file.get()) != 0) {
    ADD_FAILURE() << "cannot patch " << path;
    return false;
  }
  return true;
}

}  // namespace sorvel::testing
