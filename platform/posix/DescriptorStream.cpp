#include "platform/posix/DescriptorStream.h"

#include <unistd.h>

#include <cerrno>

namespace sorvel {

DescriptorStream::DescriptorStream(int fd) : std::ostream(nullptr), buffer_(fd) { rdbuf(&buffer_); }

DescriptorStream::~DescriptorStream() { ::close(buffer_.fd()); }

std::streamsize DescriptorStream::Buffer::xsputn(const char* data, std::streamsize size) {
  std::streamsize written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd_, data + written, static_cast<std::size_t>(size - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += n;
  }
  return written;
}

DescriptorStream::Buffer::int_type DescriptorStream::Buffer::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  const char c = traits_type::to_char_type(ch);
  return xsputn(&c, 1) == 1 ? ch : traits_type::eof();
}

}  // namespace sorvel
