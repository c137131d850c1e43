#pragma once
// An output stream onto a Windows console or file handle that it does not own. On a console the
// UTF-8 text goes out as UTF-16 through WriteConsoleW, so it shows whatever the console's code
// page; to a pipe or a file it goes as the same UTF-8 bytes through WriteFile, with no "\r\n"
// translation. Nothing is held back except an unfinished UTF-8 sequence.
#include <ostream>
#include <streambuf>
#include <string>

#include "platform/Utf8Decoder.h"
#include "platform/win32/Win32Host.h"

namespace sorvel::win32 {

class ConsoleStream final : public std::ostream {
 public:
  explicit ConsoleStream(HANDLE handle);
  ConsoleStream(const ConsoleStream&) = delete;
  ConsoleStream& operator=(const ConsoleStream&) = delete;

  bool isConsole() const { return buffer_.isConsole(); }

 private:
  class Buffer final : public std::streambuf {
   public:
    explicit Buffer(HANDLE handle);
    bool isConsole() const { return console_; }

   protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* data, std::streamsize size) override;

   private:
    bool put(const char* data, std::size_t size);

    HANDLE handle_;
    bool console_;
    Utf8Decoder decoder_;
    std::u16string units_;
  };

  Buffer buffer_;
};

}  // namespace sorvel::win32
