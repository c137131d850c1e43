#pragma once
// A buffer for decrypted bytes that is neither zero-filled when it is allocated nor wiped
// further than it was written: its owner reports how far it wrote (markWritten), and only those
// bytes are wiped, when the buffer grows, on wipe() and when it goes. For buffers whose every
// byte is written before it is read.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sorvel {

class PlaintextBuffer {
 public:
  PlaintextBuffer() = default;
  ~PlaintextBuffer() { wipe(); }
  PlaintextBuffer(const PlaintextBuffer&) = delete;
  PlaintextBuffer& operator=(const PlaintextBuffer&) = delete;

  // Room for at least `size` bytes: when there is less, the buffer is wiped and replaced by one
  // of `size` bytes (or `grownSize`, when larger), its contents undefined.
  std::uint8_t* reserve(std::size_t size, std::size_t grownSize = 0);
  // The first `length` bytes now hold data that must be wiped.
  void markWritten(std::size_t length) {
    if (length > written_) written_ = length;
  }
  // Wipes what was written; the room stays.
  void wipe();

  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t capacity() const { return capacity_; }
  std::size_t written() const { return written_; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t capacity_ = 0;
  std::size_t written_ = 0;
};

}  // namespace sorvel
