#pragma once
// Keys read from a descriptor that is not a terminal (a pipe or a file on standard input).
// The end of the input, or an error reading it, counts as Enter, so a prompt never waits on
// input that cannot come; so does reaching kMaxBytes, so that an endless input (/dev/zero) ends
// the line too, with what was read so far.
#include <cstddef>
#include <deque>

#include "platform/KeyByteDecoder.h"
#include "platform/KeySource.h"

namespace sorvel {

class PipeKeySource final : public KeySource {
 public:
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 20;

  explicit PipeKeySource(int fd) : fd_(fd) {}
  KeyEvent next() override;

 private:
  int fd_;
  bool ended_ = false;
  std::size_t bytesRead_ = 0;
  KeyByteDecoder decoder_;
  std::deque<KeyEvent> pending_;
};

}  // namespace sorvel
