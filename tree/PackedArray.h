#pragma once
// A growing array of trivially copyable values for the tree's large tables. It grows with
// realloc, which large blocks do by remapping pages instead of copying them, so that growing a
// table of a million items does not hold the old and the new copy at once.
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

namespace sorvel {

template <class T>
class PackedArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PackedArray() = default;
  PackedArray(const PackedArray&) = delete;
  PackedArray& operator=(const PackedArray&) = delete;

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  T& operator[](std::size_t i) { return data_.get()[i]; }
  const T& operator[](std::size_t i) const { return data_.get()[i]; }
  T& back() { return data_.get()[size_ - 1]; }

  void push_back(const T& value) {
    if (size_ == capacity_) grow(size_ + 1);
    data_.get()[size_++] = value;
  }
  void append(const T* values, std::size_t count) {
    if (count > capacity_ - size_) grow(size_ + count);
    std::uninitialized_copy_n(values, count, data_.get() + size_);
    size_ += count;
  }
  void resize(std::size_t count) {  // shrinks, or grows with value-initialised elements
    if (count > capacity_) grow(count);
    for (std::size_t i = size_; i < count; ++i) data_.get()[i] = T{};
    size_ = count;
  }
  // Gives back the room beyond the last element.
  void shrinkToFit() {
    if (size_ == capacity_) return;
    if (size_ == 0) {
      clear();
      return;
    }
    void* moved = std::realloc(data_.get(), size_ * sizeof(T));
    if (moved == nullptr) return;  // the larger block stays, as good as before
    (void)data_.release();
    data_.reset(static_cast<T*>(moved));
    capacity_ = size_;
  }
  void clear() {
    data_.reset();
    size_ = capacity_ = 0;
  }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };

  void grow(std::size_t needed) {
    std::size_t next = capacity_ < 16 ? 16 : capacity_ + capacity_ / 2;
    if (next < needed) next = needed;
    void* moved = std::realloc(data_.get(), next * sizeof(T));
    if (moved == nullptr) throw std::bad_alloc();
    (void)data_.release();
    data_.reset(static_cast<T*>(moved));
    capacity_ = next;
  }

  std::unique_ptr<T, Free> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace sorvel
