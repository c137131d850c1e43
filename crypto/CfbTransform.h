#pragma once
// AES-256 in CFB mode (128-bit feedback) over independent 4096-byte chunks: every chunk starts
// again from the same key and IV, so a chunk's output depends only on its own bytes, never on its
// position or the block number.
#include <cstddef>
#include <cstdint>
#include <optional>

#include <crypto++/secblock.h>

#include "base/Bytes.h"

namespace sorvel {

// Encrypt serves the test archive builder only (through CipherContext::encrypt).
enum class CfbDirection { Encrypt, Decrypt };

inline constexpr std::size_t kCfbChunkSize = 4096;
inline constexpr std::size_t kCfbKeySize = 32;
inline constexpr std::size_t kCfbIvSize = 16;

// The key and IV as the chunks use them: the password cut or zero-padded to 32 bytes, the first
// 16 salt bytes zero-padded; where the processor has AES instructions, also the key's round keys
// for them, expanded once rather than for every block. All wipe themselves.
struct CfbKeyMaterial {
  CryptoPP::SecByteBlock key;
  CryptoPP::SecByteBlock iv;
  CryptoPP::AlignedSecByteBlock roundKeys;  // empty without AES instructions
};

CfbKeyMaterial makeCfbKeyMaterial(const Bytes& key, const Bytes& salt);

// A new buffer of `length` rounded up to a multiple of 4096, zero beyond the data. Nothing when
// the buffer cannot be allocated or the cipher fails.
std::optional<Bytes> cfbTransform(CfbDirection direction, const std::uint8_t* data, std::size_t length,
                                  const CfbKeyMaterial& material);
std::optional<Bytes> cfbTransform(CfbDirection direction, const std::uint8_t* data, std::size_t length,
                                  const Bytes& key, const Bytes& salt);

// The same into `out`, exactly `length` bytes; `out` may be `data`. False when the cipher fails.
bool cfbTransformInto(CfbDirection direction, const std::uint8_t* data, std::uint8_t* out, std::size_t length,
                      const CfbKeyMaterial& material);

}  // namespace sorvel
