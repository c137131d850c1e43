#include <unistd.h>

#include <cerrno>

#include "platform/PipeKeySource.h"

namespace sorvel {

PipeKeySource::ReadResult PipeKeySource::readByte(NativeHandle input, std::uint8_t& byte) {
  const ssize_t n = ::read(static_cast<int>(input), &byte, 1);
  if (n < 0 && errno == EINTR) return ReadResult::Interrupted;
  return n == 1 ? ReadResult::Byte : ReadResult::End;
}

}  // namespace sorvel
