// A file item's content read on demand: only the blocks a read touches are read and decrypted.
#include <algorithm>
#include <cstring>
#include <utility>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "lib/LibraryParts.h"
#include "lib/StreamParts.h"

namespace sorvel::api {
namespace {
// A long read is read and decrypted this many blocks at a time.
constexpr std::uint64_t kMaxBlocksPerRead = 64;
}  // namespace

Stream::Stream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Stream::~Stream() = default;
Stream::Stream(Stream&& other) noexcept = default;
Stream& Stream::operator=(Stream&& other) noexcept = default;

std::uint64_t Stream::size() const { return impl_->info().outputSize; }
std::uint64_t Stream::tell() const { return impl_->position; }

Result<std::uint64_t> Stream::seek(std::int64_t offset, Whence whence) {
  std::int64_t base = 0;
  if (whence == Whence::Current) base = static_cast<std::int64_t>(impl_->position);
  if (whence == Whence::End) base = static_cast<std::int64_t>(size());
  if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset)) {
    return lib::failed(static_cast<int>(ErrorCode::InvalidArgument), "negative seek position");
  }
  impl_->position = static_cast<std::uint64_t>(base + offset);
  return impl_->position;
}

Result<std::size_t> Stream::read(void* out, std::size_t length) {
  Result<std::size_t> got = impl_->read(impl_->position, static_cast<std::uint8_t*>(out), length, true);
  if (got) impl_->position += got.value();
  return got;
}

Result<std::size_t> Stream::readAt(std::uint64_t offset, void* out, std::size_t length) const {
  return impl_->read(offset, static_cast<std::uint8_t*>(out), length, false);
}

Stream::Impl::Impl(std::shared_ptr<Archive::Impl> archive, std::size_t index)
    : archive_(std::move(archive)), index_(index) {}

Stream::Impl::~Impl() { secureWipe(cached_.data(), cached_.size()); }

const ItemInfo& Stream::Impl::info() const { return archive_->table.items()[index_]; }

Result<std::size_t> Stream::Impl::read(std::uint64_t offset, std::uint8_t* out, std::size_t length, bool useCache) {
  const ItemInfo& item = info();
  if (out == nullptr && length > 0) {
    return lib::failed(static_cast<int>(ErrorCode::InvalidArgument), "no buffer to read into");
  }
  if (offset >= item.outputSize || length == 0) return std::size_t{0};
  const std::uint64_t end = std::min<std::uint64_t>(item.outputSize, offset + length);
  if (offset >= item.readableSize) {
    return lib::failed(ExitCode::ExtractedWithErrors, std::string(Message::DamagedItem) + item.path);
  }
  const std::uint64_t limit = std::min(end, item.readableSize);
  const lib::ItemTable::Content content = archive_->table.contentOf(index_);
  const BlockDecryptor& decryptor = archive_->archive.container().decryptor();
  std::uint64_t at = offset;
  Bytes buffer;
  while (at < limit) {
    const std::uint64_t blockIndex = at / kBlockSize;
    const std::uint64_t within = at % kBlockSize;
    if (useCache && cachedIndex_ == blockIndex && !cached_.empty()) {
      const std::uint64_t n = std::min(kBlockSize - within, limit - at);
      std::memcpy(out, cached_.data() + within, n);
      out += n;
      at += n;
      continue;
    }
    const lib::ItemTable::BlockRun run = lib::ItemTable::runAt(content, at);
    // The blocks up to the end of the read, within the run; the last read only as far as wanted.
    if (run.count == 0) break;
    const std::uint64_t blocks = std::min<std::uint64_t>(
        {run.count, kMaxBlocksPerRead, (limit - blockIndex * kBlockSize + kBlockSize - 1) / kBlockSize});
    const std::uint64_t runEnd = std::min(limit, (blockIndex + blocks) * kBlockSize);
    const std::size_t lastBytes = static_cast<std::size_t>(runEnd - (blockIndex + blocks - 1) * kBlockSize);
    buffer.resize(static_cast<std::size_t>(blocks * kBlockSize));
    if (!decryptor.readBlocksUncached(run.block, static_cast<std::uint32_t>(blocks), buffer.data(),
                                      useCache ? kBlockSize : lastBytes)) {
      break;
    }
    const std::uint64_t n = runEnd - at;
    std::memcpy(out, buffer.data() + within, n);
    if (useCache) {
      // The last block read is kept: small reads one after another take it from here.
      cached_.assign(buffer.end() - static_cast<std::ptrdiff_t>(kBlockSize), buffer.end());
      cachedIndex_ = blockIndex + blocks - 1;
    }
    out += n;
    at += n;
  }
  secureWipe(buffer);
  if (at == offset) return lib::failed(ExitCode::ExtractedWithErrors, std::string(Message::DamagedItem) + item.path);
  return static_cast<std::size_t>(at - offset);
}

}  // namespace sorvel::api
