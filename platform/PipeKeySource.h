#pragma once
// Keys read from a handle that is not a terminal (a pipe or a file on standard input).
// The end of the input, or an error reading it, counts as Enter, so a prompt never waits on
// input that cannot come; so does reaching kMaxBytes, so that an endless input (/dev/zero) ends
// the line too, with what was read so far. Whoever must tell a failed read from the end of the
// input asks readError().
#include <cstddef>
#include <deque>

#include "platform/KeyByteDecoder.h"
#include "platform/KeySource.h"
#include "platform/NativeHandle.h"

namespace sorvel {

class PipeKeySource final : public KeySource {
 public:
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 20;

  explicit PipeKeySource(NativeHandle input) : input_(input) {}
  ~PipeKeySource() override;  // wipes the keys not taken
  KeyEvent next() override;

  // The errno value of the read that failed and ended the input; 0 while none has.
  int readError() const { return readError_; }

 private:
  enum class ReadResult { Byte, End, Interrupted, Failed };
  // One byte from the host; End for the end of the input, Failed with `error` set for an error.
  // (Host-specific.)
  static ReadResult readByte(NativeHandle input, std::uint8_t& byte, int& error);

  NativeHandle input_;
  bool ended_ = false;
  int readError_ = 0;
  std::size_t bytesRead_ = 0;
  KeyByteDecoder decoder_;
  std::deque<KeyEvent> pending_;
};

}  // namespace sorvel
