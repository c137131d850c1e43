#include "base/PlaintextBuffer.h"

#include <algorithm>

#include "base/Bytes.h"

namespace sorvel {

std::uint8_t* PlaintextBuffer::reserve(std::size_t size, std::size_t grownSize) {
  if (size <= capacity_) return data_.get();
  wipe();
  const std::size_t allocated = std::max(size, grownSize);
  data_ = std::make_unique_for_overwrite<std::uint8_t[]>(allocated);
  capacity_ = allocated;
  return data_.get();
}

void PlaintextBuffer::wipe() {
  secureWipe(data_.get(), std::min(written_, capacity_));
  written_ = 0;
}

}  // namespace sorvel
