// The library's Archive: opening, facts, items, streams, extraction and testing, each through
// the layers the programs use.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <utility>

#include "app/ExitCode.h"
#include "app/Extractor.h"
#include "app/HeaderCheck.h"
#include "app/ItemSelection.h"
#include "app/Messages.h"
#include "app/ShownPath.h"
#include "crypto/CipherType.h"
#include "lib/LibraryParts.h"
#include "lib/StreamParts.h"
#include "platform/ProcessSafety.h"
#include "platform/ReadOnlyFile.h"
#include "platform/SystemError.h"

namespace sorvel::api {
namespace {

static_assert(static_cast<int>(ErrorCode::NotFound) == ExitCode::NotFound);
static_assert(static_cast<int>(ErrorCode::ArchiveMissing) == ExitCode::ArchiveMissing);
static_assert(static_cast<int>(ErrorCode::NotAnArchive) == ExitCode::FormatError);
static_assert(static_cast<int>(ErrorCode::UnknownVersion) == ExitCode::UnknownVersion);
static_assert(static_cast<int>(ErrorCode::UnsupportedAuth) == ExitCode::UnsupportedAuth);
static_assert(static_cast<int>(ErrorCode::WrongPassword) == ExitCode::IncorrectPassword);
static_assert(static_cast<int>(ErrorCode::CannotOpen) == ExitCode::CannotOpen);
static_assert(static_cast<int>(ErrorCode::DamagedItems) == ExitCode::ExtractedWithErrors);
static_assert(static_cast<int>(ErrorCode::InvalidArgument) == ExitCode::Usage);

// Progress is told before a file's content is first written, and then every this many bytes.
constexpr std::uint64_t kProgressBytes = 256 << 10;

std::string cipherName(std::int32_t type) {
  switch (static_cast<CipherType>(type)) {
    case CipherType::AesCfb:
      return "AES-CFB";
    case CipherType::Blowfish:
      return "Blowfish";
    case CipherType::AesXts:
      return "AES-XTS";
    case CipherType::None:
      break;
  }
  return "none";
}

ArchiveFacts factsOf(sorvel::Archive& archive, const ArchiveHeader& header, const lib::ItemTable& table) {
  ArchiveFacts facts;
  ContainerFile& container = archive.container();
  facts.fileSize = container.archiveFile().fileSize();
  facts.keyBlockCipher = header.cipherType;
  facts.dataCipher = static_cast<std::uint32_t>(container.decryptor().dataCipher().type());
  facts.keyBlockCipherName = cipherName(header.cipherType);
  facts.dataCipherName = cipherName(container.decryptor().dataCipher().type());
  facts.passwordProtected = header.noPassword == 0;
  facts.blockSize = kBlockSize;
  const ChainTable& chains = container.chainTable();
  facts.blockCount = chains.chainTableSize();
  for (std::uint32_t block = 0; block < chains.chainTableSize(); ++block)
    facts.usedBlocks += chains.chainEntry(block) != 0;
  for (const ItemInfo& item : table.items()) {
    ++facts.itemCount;
    facts.fileCount += item.kind == ItemKind::File;
    facts.folderCount += item.kind == ItemKind::Folder;
    if (item.kind == ItemKind::File) facts.totalFileBytes += item.size;
  }
  return facts;
}

}  // namespace
}  // namespace sorvel::api

namespace sorvel::lib {

api::Result<std::shared_ptr<api::Archive::Impl>> openArchive(ReadOnlyFile file, const api::Password& password) {
  const ArchiveHeader header = preReadHeader(file);
  if (const int verdict = headerVerdict(header); verdict != 0)
    return failed(verdict, std::string(headerVerdictLine(verdict)));
  Bytes key;
  if (header.noPassword == 0) {
    api::Status failure;
    std::optional<Bytes> material = keyMaterial(password.impl(), failure);
    if (!material) return failure;
    key = std::move(*material);
  }
  auto impl = std::make_shared<api::Archive::Impl>();
  impl->archive.attach(std::move(file));
  const bool accepted = impl->archive.checkPassword(key);
  secureWipe(key);
  if (!accepted) return failed(ExitCode::IncorrectPassword, std::string(Message::IncorrectPassword));
  if (!impl->archive.open()) return failed(ExitCode::CannotOpen, std::string(Message::CannotOpen));
  impl->table.build(impl->archive);
  impl->facts = api::factsOf(impl->archive, header, impl->table);
  return impl;
}

}  // namespace sorvel::lib

namespace sorvel::api {
namespace {

Status cannotRead(const std::string& what, int error) {
  return lib::failed(ExitCode::ArchiveMissing,
                     std::string(Message::CannotReadArchive) + what + ": " +
                         (error == EINVAL ? std::string(Message::NotARegularFile) : systemErrorText(error)));
}

// Whether the item at the in-archive `path` is `start` or lies below it.
bool within(std::u16string_view path, std::u16string_view start) {
  return start == kRootPath || path == start ||
         (path.starts_with(start) && path.size() > start.size() && path[start.size()] == u'\\');
}

// `path` as a pattern that matches only itself: each wildcard character inside brackets.
std::string literalPattern(std::string_view path) {
  std::string pattern;
  for (const char c : path) {
    if (c == '*' || c == '?' || c == '[') {
      pattern += '[';
      pattern += c;
      pattern += ']';
    } else {
      pattern += c;
    }
  }
  return pattern;
}

// The request that chooses the items `options` name, as the tool chooses its operands.
SelectionRequest selectionRequest(const ExtractOptions& options) {
  SelectionRequest request;
  request.excludes = options.exclude;
  request.separators = options.wildcardsMatchSlash ? Separators::CrossedByWildcards : Separators::Kept;
  std::transform(options.items.begin(), options.items.end(), std::back_inserter(request.operands), literalPattern);
  request.operands.insert(request.operands.end(), options.patterns.begin(), options.patterns.end());
  return request;
}

// The tool's line for each operand that chose nothing, an item shown as it was given.
std::string unmatchedLines(const ExtractOptions& options, const SelectionRequest& request,
                           const std::vector<std::string>& unmatched) {
  std::string lines;
  std::size_t operand = 0;
  for (const std::string& pattern : unmatched) {
    while (request.operands[operand] != pattern) ++operand;
    const std::string& shown =
        operand < options.items.size() ? options.items[operand] : options.patterns[operand - options.items.size()];
    if (!lines.empty()) lines += '\n';
    lines += std::string(Message::NoSuchItem) + shown;
    ++operand;
  }
  return lines;
}

}  // namespace

const char* version() { return SORVEL_VERSION; }

Archive::Archive(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
Archive::~Archive() = default;
Archive::Archive(Archive&& other) noexcept = default;
Archive& Archive::operator=(Archive&& other) noexcept = default;

Result<Archive> Archive::open(const std::string& path, const Password& password) {
  ReadOnlyFile file;
  if (!file.open(path)) return cannotRead(path, errno);
  Result<std::shared_ptr<Impl>> opened = lib::openArchive(std::move(file), password);
  if (!opened) return opened.status();
  return Archive(std::move(opened.value()));
}

Result<Archive> Archive::openDescriptor(int fd, const Password& password) {
  ReadOnlyFile file;
  if (!file.openDuplicate(static_cast<NativeHandle>(fd))) return cannotRead("descriptor " + std::to_string(fd), errno);
  Result<std::shared_ptr<Impl>> opened = lib::openArchive(std::move(file), password);
  if (!opened) return opened.status();
  return Archive(std::move(opened.value()));
}

const ArchiveFacts& Archive::facts() const { return impl_->facts; }
const std::vector<ItemInfo>& Archive::items() const { return impl_->table.items(); }

const ItemInfo* Archive::find(std::string_view path) const {
  const std::optional<std::size_t> index = impl_->table.find(path);
  return index ? &impl_->table.items()[*index] : nullptr;
}

Result<Stream> Archive::openFile(std::string_view path) const {
  const std::optional<std::size_t> index = impl_->table.find(path);
  if (!index) return lib::failed(ExitCode::NotFound, std::string(Message::NoSuchItem) + std::string(path));
  const ItemInfo& item = impl_->table.items()[*index];
  if (item.kind == ItemKind::Folder) return lib::failed(ExitCode::NotFound, std::string(Message::NotAFile) + item.path);
  if (item.leftOut) {
    return lib::failed(
        ExitCode::ExtractedWithErrors,
        itemLine(Message::CannotExtract, impl_->table.storedPathOf(*index), item.leftOutReason, PathStyle::Archive));
  }
  return Stream(std::make_unique<Stream::Impl>(impl_, *index));
}

Status Archive::extract(const std::string& folder, const ExtractOptions& options) {
  // The calling program's signal handlers stay; a stopped walk removes its temporary files itself.
  leaveSignalsToTheProcess();
  const lib::ItemTable& table = impl_->table;
  const SelectionRequest request = selectionRequest(options);
  const ItemSelection selection(impl_->archive, request);
  if (!selection.unmatched().empty()) {
    return lib::failed(ExitCode::NotFound, unmatchedLines(options, request, selection.unmatched()));
  }

  Progress progress;
  std::u16string_view excludedFolder;  // items below it are left out with it
  for (std::size_t i = 0; i < table.items().size(); ++i) {
    const std::u16string& path = table.storedPathOf(i);
    if (!excludedFolder.empty() && within(path, excludedFolder)) continue;
    if (selection.excludes(path)) {
      excludedFolder = path;
      continue;
    }
    for (const std::u16string& start : selection.starts()) {
      if (!within(path, start)) continue;
      ++progress.itemsTotal;
      progress.bytesTotal += table.items()[i].outputSize;
      break;
    }
  }
  std::mutex progressLock;
  std::atomic<bool> stop{false};
  std::uint64_t nextTell = 0;  // bytes written
  // Called with the lock held.
  auto tell = [&] {
    if (options.progress && !stop && !options.progress(progress)) stop = true;
  };

  Extractor extractor(impl_->archive, [&](const std::string& line) {
    if (options.problem) options.problem(line);
  });
  extractor.giveFoldersTheirTimes(options.folderTimes);
  if (options.existing == ExistingFiles::ReplaceAll) extractor.setExistingFiles(Extractor::ExistingFiles::ReplaceAll);
  if (options.existing == ExistingFiles::Keep) extractor.setExistingFiles(Extractor::ExistingFiles::Keep);
  extractor.setStopFlag(&stop);
  extractor.setAfterItem([&](std::u16string_view path) {
    if (path == kRootPath) return;
    const std::string shown = shownPath(path, PathStyle::Slash);
    std::lock_guard<std::mutex> hold(progressLock);
    ++progress.itemsDone;
    progress.currentItem = shown;
    tell();
    progress.currentItem = {};
  });
  // The content goes through here: the bytes are counted, and once the work is to stop no file
  // is written further (the one being written is abandoned with its temporary file).
  extractor.setWriteCall([&](NativeHandle file, const void* data, std::size_t count) -> std::ptrdiff_t {
    {
      std::lock_guard<std::mutex> hold(progressLock);
      if (progress.bytesDone >= nextTell) {
        nextTell = progress.bytesDone + kProgressBytes;
        tell();
      }
    }
    if (stop) {
      errno = ECANCELED;
      return -1;
    }
    const ssize_t written = ::write(static_cast<int>(file), data, count);
    if (written > 0) {
      std::lock_guard<std::mutex> hold(progressLock);
      progress.bytesDone += static_cast<std::uint64_t>(written);
    }
    return written;
  });

  for (std::size_t index = 0; index < selection.starts().size() && !stop; ++index) {
    const OutputPlan plan = selection.plan(index);
    const bool named = selection.starts()[index] != kRootPath;
    named ? extractor.extractAtFullPath(plan, folder) : extractor.extract(plan, folder);
    if (!plan.isFolder(plan.start()) && named) {
      std::lock_guard<std::mutex> hold(progressLock);
      ++progress.itemsDone;
      tell();
    }
  }
  if (stop) return Status{ErrorCode::DamagedItems, std::string(Message::ExtractionStopped), true};
  if (extractor.reportedProblems()) {
    return lib::failed(ExitCode::ExtractedWithErrors, std::string(Message::ExtractedWithErrors));
  }
  return {};
}

Result<TestReport> Archive::test(const ProgressCallback& progressCallback) {
  TestReport report;
  Progress progress;
  progress.itemsTotal = impl_->table.items().size();
  for (const ItemInfo& item : impl_->table.items()) progress.bytesTotal += item.outputSize;
  auto problem = [&](const ItemInfo& item, std::string line) {
    if (report.firstDamaged.empty()) report.firstDamaged = item.path;
    report.problems.push_back(std::move(line));
  };
  Bytes buffer(4 * kProgressBytes);
  for (std::size_t i = 0; i < impl_->table.items().size(); ++i) {
    const ItemInfo& item = impl_->table.items()[i];
    const std::u16string& path = impl_->table.storedPathOf(i);
    if (item.kind != ItemKind::Unknown) (item.isFolder() ? report.folders : report.files) += 1;
    if (item.leftOut) {
      problem(item, itemLine(Message::CannotExtract, path, item.leftOutReason, PathStyle::Archive));
    } else if (item.isFolder()) {
      if (item.damaged) problem(item, itemLine(Message::DamagedFolder, path, {}, PathStyle::Archive));
    } else if (item.outputSize > 0) {
      Stream::Impl stream(impl_, i);
      std::uint64_t at = 0;
      while (at < item.readableSize) {
        Result<std::size_t> got = stream.read(at, buffer.data(), buffer.size(), false);
        if (!got || got.value() == 0) break;
        at += got.value();
        progress.bytesDone += got.value();
        if (progressCallback && !progressCallback(progress)) {
          return Status{ErrorCode::DamagedItems, std::string(Message::ExtractionStopped), true};
        }
      }
      report.bytes += at;
      if (at < item.size) problem(item, itemLine(Message::DamagedItem, path, {}, PathStyle::Archive));
    }
    ++progress.itemsDone;
    progress.currentItem = item.path;
    if (progressCallback && !progressCallback(progress)) {
      return Status{ErrorCode::DamagedItems, std::string(Message::ExtractionStopped), true};
    }
    progress.currentItem = {};
  }
  secureWipe(buffer);
  return report;
}

}  // namespace sorvel::api
