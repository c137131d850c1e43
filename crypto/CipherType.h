#pragma once
#include <cstdint>

namespace sorvel {

// The one-byte cipher code stored in the header (key block cipher) and the key block (data cipher).
// Any other code behaves as None.
enum class CipherType : std::int32_t { None = 0, AesCfb = 1, Blowfish = 2, AesXts = 3 };

inline bool isKnownCipher(std::int32_t code) { return code >= 1 && code <= 3; }

}  // namespace sorvel
