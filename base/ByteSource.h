#pragma once
// Random access to the bytes of one stored object: a buffer, or a block chain read on demand so
// that a long chain costs memory only for the part that is looked at.
#include <cstdint>
#include <cstring>

namespace sorvel {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Copies `length` bytes at `offset`; the range must lie within size(). Bytes that cannot be
  // read come back as zero.
  virtual void copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) = 0;
};

class BufferByteSource final : public ByteSource {
 public:
  BufferByteSource(const std::uint8_t* data, std::uint64_t length) : data_(data), length_(length) {}
  std::uint64_t size() const override { return length_; }
  void copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) override {
    if (length != 0) std::memcpy(out, data_ + offset, length);
  }

 private:
  const std::uint8_t* data_;
  std::uint64_t length_;
};

}  // namespace sorvel
