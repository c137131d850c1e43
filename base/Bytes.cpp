#include "base/Bytes.h"

#include <crypto++/misc.h>

namespace sorvel {

void secureWipe(void* data, std::size_t length) {
  if (data != nullptr && length != 0) CryptoPP::SecureWipeBuffer(static_cast<CryptoPP::byte*>(data), length);
}

void secureWipe(Bytes& bytes) {
  bytes.resize(bytes.capacity());
  secureWipe(bytes.data(), bytes.size());
  bytes.clear();
}

}  // namespace sorvel
