#include "crypto/Blowfish.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/ByteOrder.h"

namespace sorvel {

namespace {

std::size_t roundUpToBlock(std::size_t length) {
  return (length + BlowfishState::kBlockSize - 1) / BlowfishState::kBlockSize * BlowfishState::kBlockSize;
}

// A key byte as the schedule sees it: signed, extended to 32 bits, so 0x80 and above set every
// higher bit of the word built so far. The stored archives were keyed this way.
std::uint32_t signExtended(std::uint8_t byte) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(byte)));
}

}  // namespace

BlowfishState::~BlowfishState() { wipe(); }

void BlowfishState::wipe() {
  secureWipe(p_.data(), sizeof p_);
  secureWipe(s_.data(), sizeof s_);
  secureWipe(&planes_, sizeof planes_);
}

std::uint32_t BlowfishState::round(std::uint32_t x) const {
  return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
}

void BlowfishState::encryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  transformBlock<Direction::Encrypt>(left, right);
}

void BlowfishState::decryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  transformBlock<Direction::Decrypt>(left, right);
}

// Decryption is encryption with the subkeys in reverse order.
template <BlowfishState::Direction kDirection>
void BlowfishState::transformBlock(std::uint32_t& left, std::uint32_t& right) const {
  auto subkey = [this](std::size_t i) { return kDirection == Direction::Encrypt ? p_[i] : p_[kRounds + 1 - i]; };
  std::uint32_t l = left;
  std::uint32_t r = right;
  for (std::size_t i = 0; i < kRounds; ++i) {
    l ^= subkey(i);
    r ^= round(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= subkey(kRounds);
  l ^= subkey(kRounds + 1);
  left = l;
  right = r;
}

void BlowfishState::keyMixing(const std::array<std::uint8_t, kKeyLength>& key) {
  std::size_t j = 0;
  for (auto& subkey : p_) {
    std::uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = (word << 8) | signExtended(key[j]);
      j = (j + 1) % kKeyLength;
    }
    subkey ^= word;
  }
}

bool BlowfishState::setKey(const Bytes& key) {
  std::array<std::uint8_t, kKeyLength> keyBytes{};
  std::copy_n(key.begin(), std::min(key.size(), kKeyLength), keyBytes.begin());

  p_ = kBlowfishInitialP;
  s_ = kBlowfishInitialS;
  keyMixing(keyBytes);
  secureWipe(keyBytes.data(), keyBytes.size());

  std::uint32_t l = 0;
  std::uint32_t r = 0;
  for (std::size_t i = 0; i < p_.size(); i += 2) {
    encryptBlock(l, r);
    p_[i] = l;
    p_[i + 1] = r;
  }
  for (auto& box : s_) {
    for (std::size_t i = 0; i < box.size(); i += 2) {
      encryptBlock(l, r);
      box[i] = l;
      box[i + 1] = r;
    }
  }
  makeBlowfishPlanes(p_, s_, planes_);
  return true;
}

// The rounds of `kLanes` independent blocks side by side: one block's round waits on its table
// loads, which the other blocks' rounds overlap. Round pairs need no swap of the halves; the
// subkeys come in encryption order (P[0] first) or in decryption order (P[17] first).
template <BlowfishState::Direction kDirection, std::size_t kLanes>
void BlowfishState::transformLanes(std::uint8_t* blocks) const {
  constexpr bool kDecrypt = kDirection == Direction::Decrypt;
  auto subkey = [this](std::size_t step) { return kDecrypt ? p_[kRounds + 1 - step] : p_[step]; };
  std::uint32_t l[kLanes];
  std::uint32_t r[kLanes];
#pragma GCC unroll 8
  for (std::size_t k = 0; k < kLanes; ++k) {
    l[k] = loadU32(blocks + 8 * k);
    r[k] = loadU32(blocks + 8 * k + 4);
  }
#pragma GCC unroll 8
  for (std::size_t step = 0; step < kRounds; step += 2) {
#pragma GCC unroll 8
    for (std::size_t k = 0; k < kLanes; ++k) {
      l[k] ^= subkey(step);
      r[k] ^= round(l[k]);
    }
#pragma GCC unroll 8
    for (std::size_t k = 0; k < kLanes; ++k) {
      r[k] ^= subkey(step + 1);
      l[k] ^= round(r[k]);
    }
  }
#pragma GCC unroll 8
  for (std::size_t k = 0; k < kLanes; ++k) {
    storeU32(blocks + 8 * k, r[k] ^ subkey(kRounds + 1));
    storeU32(blocks + 8 * k + 4, l[k] ^ subkey(kRounds));
  }
}

template <BlowfishState::Direction kDirection>
void BlowfishState::transformBlocks(std::uint8_t* buffer, std::size_t length) const {
  constexpr std::size_t kLanes = 8;
  std::size_t at = 0;
  if (haveWideBlowfish()) {
    at = kDirection == Direction::Decrypt ? wideBlowfishDecrypt(planes_, buffer, length)
                                          : wideBlowfishEncrypt(planes_, buffer, length);
  }
  for (; at + kLanes * kBlockSize <= length; at += kLanes * kBlockSize) transformLanes<kDirection, kLanes>(buffer + at);
  for (; at < length; at += kBlockSize) transformLanes<kDirection, 1>(buffer + at);
}

std::optional<Bytes> BlowfishState::encryptBuffer(const std::uint8_t* data, std::size_t length) const {
  return transformBuffer<Direction::Encrypt>(data, length);
}

std::optional<Bytes> BlowfishState::decryptBuffer(const std::uint8_t* data, std::size_t length) const {
  return transformBuffer<Direction::Decrypt>(data, length);
}

template <BlowfishState::Direction kDirection>
std::optional<Bytes> BlowfishState::transformBuffer(const std::uint8_t* data, std::size_t length) const {
  if (length == 0) return std::nullopt;
  const std::size_t padded = roundUpToBlock(length);
  Bytes out;
  out.reserve(padded);  // one allocation: no stray copy of the data is left behind
  out.assign(data, data + length);
  out.resize(padded, 0);
  transformBlocks<kDirection>(out.data(), out.size());
  return out;
}

void BlowfishState::decryptInto(const std::uint8_t* data, std::uint8_t* out, std::size_t length) const {
  const std::size_t whole = length / kBlockSize * kBlockSize;
  if (out != data) std::memmove(out, data, whole);
  transformBlocks<Direction::Decrypt>(out, whole);

  const std::size_t tail = length - whole;
  if (tail == 0) return;
  std::array<std::uint8_t, kBlockSize> block{};
  std::memcpy(block.data(), data + whole, tail);
  transformBlocks<Direction::Decrypt>(block.data(), block.size());
  std::memcpy(out + whole, block.data(), tail);
  secureWipe(block.data(), block.size());
}

}  // namespace sorvel
