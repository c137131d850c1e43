#include "archive/MetadataCopies.h"

#include <cstring>

#include "base/Bytes.h"

namespace sorvel {

MetadataCopies::~MetadataCopies() { secureWipe(keyBlock_.data(), keyBlock_.size()); }

void MetadataCopies::resetCopies() {
  header_.fill(0);
  secureWipe(keyBlock_.data(), keyBlock_.size());
}

bool MetadataCopies::readHeader(std::uint8_t* out) {
  if (file_.isOpen()) file_.file().readAt(0, header_.data(), header_.size());
  std::memcpy(out, header_.data(), header_.size());
  return true;
}

bool MetadataCopies::loadKeyBlock(const CipherContext& keyBlockCipher) {
  if (!file_.isOpen()) return true;
  std::array<std::uint8_t, kKeyBlockSize> stored{};
  file_.file().readAt(kKeyBlockOffset, stored.data(), stored.size());
  auto plain = keyBlockCipher.decrypt(stored.data(), stored.size(), 0);
  if (!plain) return false;
  std::memcpy(keyBlock_.data(), plain->data(), keyBlock_.size());
  secureWipe(*plain);
  return true;
}

}  // namespace sorvel
