#pragma once
// An output stream straight onto a file descriptor that it owns: nothing is held back, every
// write goes out at once.
#include <ostream>
#include <streambuf>

namespace sorvel {

class DescriptorStream final : public std::ostream {
 public:
  explicit DescriptorStream(int fd);
  ~DescriptorStream() override;
  DescriptorStream(const DescriptorStream&) = delete;
  DescriptorStream& operator=(const DescriptorStream&) = delete;

 private:
  class Buffer final : public std::streambuf {
   public:
    explicit Buffer(int fd) : fd_(fd) {}
    int fd() const { return fd_; }

   protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* data, std::streamsize size) override;

   private:
    int fd_;
  };

  Buffer buffer_;
};

}  // namespace sorvel
