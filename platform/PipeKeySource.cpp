#include "platform/PipeKeySource.h"

#include <cstdint>

namespace sorvel {

PipeKeySource::~PipeKeySource() {
  while (!pending_.empty()) takeFirst(pending_);
}

KeyEvent PipeKeySource::next() {
  while (pending_.empty()) {
    if (ended_) return KeyEvent::enter();
    // One byte at a time: nothing beyond the password is taken from the input.
    std::uint8_t byte = 0;
    const ReadResult result = readByte(input_, byte, readError_);
    if (result == ReadResult::Interrupted) continue;
    if (result == ReadResult::Byte) decoder_.feed(byte, pending_);
    // The end of the input, an error reading it or the limit: no more keys will come.
    if (result != ReadResult::Byte || ++bytesRead_ == kMaxBytes) {
      decoder_.flush(pending_);
      ended_ = true;
    }
  }
  return takeFirst(pending_);
}

}  // namespace sorvel
