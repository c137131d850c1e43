#include "platform/FileWriter.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/ProcessSafety.h"

namespace sorvel {
namespace {

// Interrupted write calls without progress are retried, but not forever.
constexpr int kMaxInterruptions = 100;

}  // namespace

FileWriter::~FileWriter() { abandon(); }

FileWriter::FileWriter(FileWriter&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)),
      folder_(other.folder_),
      unnamed_(other.unnamed_),
      targetPath_(std::exchange(other.targetPath_, {})),
      temporaryPath_(std::exchange(other.temporaryPath_, {})),
      writeCall_(std::exchange(other.writeCall_, {})),
      size_(std::exchange(other.size_, 0)),
      error_(std::exchange(other.error_, 0)),
      created_(other.created_),
      targetMissing_(other.targetMissing_),
      existing_(other.existing_) {}

FileWriter& FileWriter::operator=(FileWriter&& other) noexcept {
  if (this != &other) {
    abandon();
    handle_ = std::exchange(other.handle_, kNoHandle);
    folder_ = other.folder_;
    unnamed_ = other.unnamed_;
    targetPath_ = std::exchange(other.targetPath_, {});
    temporaryPath_ = std::exchange(other.temporaryPath_, {});
    writeCall_ = std::exchange(other.writeCall_, {});
    size_ = std::exchange(other.size_, 0);
    error_ = std::exchange(other.error_, 0);
    created_ = other.created_;
    targetMissing_ = other.targetMissing_;
    existing_ = other.existing_;
  }
  return *this;
}

bool FileWriter::write(const std::uint8_t* data, std::size_t length) {
  if (!ensureOpen()) return false;
  int interruptions = 0;
  while (length > 0) {
    const std::size_t chunk = std::min(length, kMaxWriteChunk);
    const std::ptrdiff_t written = writeCall_(handle_, data, chunk);
    if (written < 0 && errno == EINTR && ++interruptions < kMaxInterruptions) continue;
    if (written < 0) return fail(errno);
    // No progress would repeat forever; more than asked is a broken write call.
    if (written == 0 || static_cast<std::size_t>(written) > chunk) return fail(EIO);
    interruptions = 0;
    const auto done = static_cast<std::size_t>(written);
    data += done;
    length -= done;
    size_ += done;
  }
  return true;
}

void FileWriter::clearTemporary() {
  temporaryPath_.clear();
  forgetTemporaryFile();
}

bool FileWriter::fail(int error) {
  abandon();
  if (error_ == 0) error_ = error;
  errno = error;
  return false;
}

bool FileWriter::ensureOpen() {
  if (handle_ != kNoHandle) return true;
  errno = error_ != 0 ? error_ : EBADF;
  return false;
}

}  // namespace sorvel
