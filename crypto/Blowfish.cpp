#include "crypto/Blowfish.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "archive/ByteOrder.h"

namespace sorvel {

namespace {

constexpr std::size_t kRounds = 16;

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
}

std::uint32_t BlowfishState::round(std::uint32_t x) const {
  return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
}

void BlowfishState::encryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left;
  std::uint32_t r = right;
  for (std::size_t i = 0; i < kRounds; ++i) {
    l ^= p_[i];
    r ^= round(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= p_[16];
  l ^= p_[17];
  left = l;
  right = r;
}

void BlowfishState::decryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left;
  std::uint32_t r = right;
  for (std::size_t i = kRounds + 1; i > 1; --i) {
    l ^= p_[i];
    r ^= round(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= p_[1];
  l ^= p_[0];
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
  return true;
}

namespace {

// Applies `transform` to every 8-byte block of `buffer` in place; `length` is a multiple of 8.
template <class Transform>
void forEachBlock(std::uint8_t* buffer, std::size_t length, Transform transform) {
  for (std::size_t at = 0; at < length; at += BlowfishState::kBlockSize) {
    std::uint32_t l = loadU32(buffer + at);
    std::uint32_t r = loadU32(buffer + at + 4);
    transform(l, r);
    storeU32(buffer + at, l);
    storeU32(buffer + at + 4, r);
  }
}

}  // namespace

std::optional<Bytes> BlowfishState::encryptBuffer(const std::uint8_t* data, std::size_t length) const {
  if (length == 0) return std::nullopt;
  const std::size_t padded = roundUpToBlock(length);
  Bytes out;
  out.reserve(padded);  // one allocation: no stray copy of the data is left behind
  out.assign(data, data + length);
  out.resize(padded, 0);
  forEachBlock(out.data(), out.size(), [this](std::uint32_t& l, std::uint32_t& r) { encryptBlock(l, r); });
  return out;
}

std::optional<Bytes> BlowfishState::decryptBuffer(const std::uint8_t* data, std::size_t length) const {
  if (length == 0) return std::nullopt;
  const std::size_t padded = roundUpToBlock(length);
  Bytes out;
  out.reserve(padded);  // one allocation: no stray copy of the data is left behind
  out.assign(data, data + length);
  out.resize(padded, 0);
  forEachBlock(out.data(), out.size(), [this](std::uint32_t& l, std::uint32_t& r) { decryptBlock(l, r); });
  return out;
}

void BlowfishState::decryptInto(const std::uint8_t* data, std::uint8_t* out, std::size_t length) const {
  const std::size_t whole = length / kBlockSize * kBlockSize;
  if (out != data) std::memmove(out, data, whole);
  forEachBlock(out, whole, [this](std::uint32_t& l, std::uint32_t& r) { decryptBlock(l, r); });

  const std::size_t tail = length - whole;
  if (tail == 0) return;
  std::array<std::uint8_t, kBlockSize> block{};
  std::memcpy(block.data(), data + whole, tail);
  forEachBlock(block.data(), block.size(), [this](std::uint32_t& l, std::uint32_t& r) { decryptBlock(l, r); });
  std::memcpy(out + whole, block.data(), tail);
  secureWipe(block.data(), block.size());
}

}  // namespace sorvel
