#pragma once
// Keys read from a descriptor that is not a terminal (a pipe or a file on standard input).
// The end of the input, or an error reading it, counts as Enter, so a prompt never waits on
// input that cannot come.
#include <deque>

#include "platform/KeyByteDecoder.h"
#include "platform/KeySource.h"

namespace sorvel {

class PipeKeySource final : public KeySource {
 public:
  explicit PipeKeySource(int fd) : fd_(fd) {}
  KeyEvent next() override;

 private:
  int fd_;
  bool ended_ = false;
  KeyByteDecoder decoder_;
  std::deque<KeyEvent> pending_;
};

}  // namespace sorvel
