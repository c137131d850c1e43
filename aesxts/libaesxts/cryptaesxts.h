#pragma once
// XTS-AES-256 (IEEE 1619) over one data unit per call: a 64-byte key string (the first 32 bytes
// key the data cipher, the last 32 the tweak cipher) and a 16-byte tweak.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Bytes.h"

namespace sorvel {

inline constexpr std::size_t kXtsKeyLength = 64;

// Encryption serves the test archive builder only (through CipherContext::encrypt).
// Returns nDataSize encrypted bytes. Throws std::invalid_argument, checked in this order, with
// "PlainData null or empty", "keystr length mismatch" or "ivstr must be 16 bytes (XTS tweak)";
// cipher exceptions pass on.
Bytes xtsEncrypt(const std::uint8_t* PlainData, std::size_t nDataSize, std::span<const std::uint8_t> keystr,
                 std::span<const std::uint8_t> ivstr);

// Returns nDataSize decrypted bytes. Its callers always pass a 64-byte key, a 16-byte tweak and
// data, so a violated precondition is a programming error: it stops the process.
Bytes xtsDecrypt(const std::uint8_t* CipherData, std::size_t nDataSize, std::span<const std::uint8_t> keystr,
                 std::span<const std::uint8_t> tweakstr);

// xtsDecrypt into a caller's buffer of nDataSize bytes (which may be CipherData itself).
void xtsDecryptInto(const std::uint8_t* CipherData, std::size_t nDataSize, std::span<const std::uint8_t> keystr,
                    std::span<const std::uint8_t> tweakstr, std::uint8_t* PlainOut);

}  // namespace sorvel
