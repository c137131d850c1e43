#pragma once
// Key and tweak of the AesXts cipher: a 64-byte key derived from the whole password and salt,
// and a tweak made from the storage block number.
#include <array>
#include <cstdint>

#include <crypto++/secblock.h>

#include "base/Bytes.h"

namespace sorvel {

// HKDF-SHA256 with secret = every byte of `key` (not cut), salt = every byte of `salt`,
// info = "SRV-AES256-XTS"; 64 bytes.
CryptoPP::SecByteBlock deriveXtsKey(const Bytes& key, const Bytes& salt);

// Bytes 0..11 zero, bytes 12..15 the block number big-endian.
std::array<std::uint8_t, 16> makeTweak(std::uint32_t blockNumber);

}  // namespace sorvel
