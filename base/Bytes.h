#pragma once
// Byte strings passed between the ciphers, the storage layer and the front end.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvel {

using Bytes = std::vector<std::uint8_t>;

// Overwrites memory with zeros in a way the compiler may not drop.
void secureWipe(void* data, std::size_t length);

// Wipes the whole allocation of a byte string (its capacity, not only its size), then empties it.
void secureWipe(Bytes& bytes);

}  // namespace sorvel
