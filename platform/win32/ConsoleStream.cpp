#include "platform/win32/ConsoleStream.h"

namespace sorvel::win32 {

ConsoleStream::Buffer::Buffer(HANDLE handle) : handle_(handle) {
  DWORD mode = 0;
  console_ = handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

bool ConsoleStream::Buffer::put(const char* data, std::size_t size) {
  if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return false;
  if (!console_) {
    while (size > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x10000000));
      if (!WriteFile(handle_, data, chunk, &written, nullptr) || written == 0) return false;
      data += written;
      size -= written;
    }
    return true;
  }
  units_.clear();
  for (std::size_t i = 0; i < size; ++i) decoder_.feed(static_cast<std::uint8_t>(data[i]), units_);
  std::size_t done = 0;
  while (done < units_.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(units_.size() - done, 8192));
    if (!WriteConsoleW(handle_, units_.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

ConsoleStream::Buffer::int_type ConsoleStream::Buffer::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  const char c = traits_type::to_char_type(ch);
  return put(&c, 1) ? ch : traits_type::eof();
}

std::streamsize ConsoleStream::Buffer::xsputn(const char* data, std::streamsize size) {
  return put(data, static_cast<std::size_t>(size)) ? size : 0;
}

ConsoleStream::ConsoleStream(HANDLE handle) : std::ostream(nullptr), buffer_(handle) { rdbuf(&buffer_); }

}  // namespace sorvel::win32
