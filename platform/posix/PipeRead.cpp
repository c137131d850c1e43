#include <unistd.h>

#include <cerrno>

#include "platform/PipeKeySource.h"

namespace sorvel {

PipeKeySource::ReadResult PipeKeySource::readByte(NativeHandle input, std::uint8_t& byte, int& error) {
  const ssize_t n = ::read(static_cast<int>(input), &byte, 1);
  if (n < 0) {
    if (errno == EINTR) return ReadResult::Interrupted;
    error = errno;
    return ReadResult::Failed;
  }
  return n == 1 ? ReadResult::Byte : ReadResult::End;
}

}  // namespace sorvel
