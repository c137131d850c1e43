#include "crypto/WideAes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include <crypto++/aes.h>
#include <crypto++/modes.h>

#include "base/Bytes.h"
#include "crypto/AesInstructions.h"

namespace sorvel {
namespace {

// Lengths across several groups of the 512-bit and of the 256-bit loops, with every remainder the
// narrower loops take.
constexpr std::size_t kLongest = 5 * kWideAesGroupBytes + 8 * 16 + 16;

// Runs the 512-bit loops where the processor has them, or leaves every group to the 256-bit ones.
struct WiderAesSetting {
  explicit WiderAesSetting(bool allowed) { allowWiderAes(allowed); }
  ~WiderAesSetting() { allowWiderAes(true); }
  WiderAesSetting(const WiderAesSetting&) = delete;
  WiderAesSetting& operator=(const WiderAesSetting&) = delete;
};

Bytes pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) + seed);
  return bytes;
}

struct Keys {
  Bytes key = pattern(32, 11);
  alignas(16) std::uint8_t encryption[kAesRoundKeyBytes];
  alignas(16) std::uint8_t decryption[kAesRoundKeyBytes];
  Keys() {
    aesEncryptionKeys(key.data(), encryption);
    aesDecryptionKeys(key.data(), decryption);
  }
};

// P = D(C xor T) xor T per 16-byte unit, one unit at a time on Crypto++'s AES.
Bytes referenceXts(const Bytes& key, const Bytes& cipher, std::uint64_t low, std::uint64_t high) {
  CryptoPP::AES::Decryption aes(key.data(), key.size());
  Bytes plain(cipher.size());
  for (std::size_t at = 0; at < cipher.size(); at += 16) {
    std::uint8_t unit[16];
    std::memcpy(unit, &low, 8);  // little-endian host: the tweak's bytes
    std::memcpy(unit + 8, &high, 8);
    std::uint8_t tweak[16];
    std::memcpy(tweak, unit, 16);
    for (std::size_t i = 0; i < 16; ++i) unit[i] = static_cast<std::uint8_t>(cipher[at + i] ^ tweak[i]);
    aes.ProcessBlock(unit);
    for (std::size_t i = 0; i < 16; ++i) plain[at + i] = static_cast<std::uint8_t>(unit[i] ^ tweak[i]);
    doubleXtsTweak(low, high);
  }
  return plain;
}

TEST(AesBlockLoops, XtsEqualsOneUnitAtATimeForEveryLength) {
  if (!haveAesInstructions()) GTEST_SKIP() << "no AES instructions";
  const Keys keys;
  // A tweak whose doubling carries out of both words, so the folding back is exercised.
  const std::uint64_t low = 0xF0E1D2C3B4A59687;
  const std::uint64_t high = 0x8877665544332211;
  for (const bool wider : {true, false}) {
    const WiderAesSetting setting(wider);
    SCOPED_TRACE(wider ? "512-bit loops first" : "256-bit loops only");
    for (std::size_t length = 16; length <= kLongest; length += 16) {
      const Bytes cipher = pattern(length, static_cast<unsigned>(length));
      const Bytes expected = referenceXts(keys.key, cipher, low, high);
      Bytes out(length + 16, 0xAA);
      xtsDecryptBlocks(keys.decryption, cipher.data(), out.data(), length, low, high);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), expected) << length;
      EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xAA)) << length << ": wrote past the end";
      Bytes inPlace = cipher;
      xtsDecryptBlocks(keys.decryption, inPlace.data(), inPlace.data(), length, low, high);
      EXPECT_EQ(inPlace, expected) << length << " in place";
    }
  }
}

TEST(AesBlockLoops, CfbEqualsCryptoppForEveryLength) {
  if (!haveAesInstructions()) GTEST_SKIP() << "no AES instructions";
  const Keys keys;
  const Bytes iv = pattern(16, 99);
  for (const bool wider : {true, false}) {
    const WiderAesSetting setting(wider);
    SCOPED_TRACE(wider ? "512-bit loops first" : "256-bit loops only");
    for (std::size_t length = 1; length <= kLongest; ++length) {
      const Bytes cipher = pattern(length, static_cast<unsigned>(length));
      Bytes expected(length);
      CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cfb(keys.key.data(), keys.key.size(), iv.data());
      cfb.ProcessData(expected.data(), cipher.data(), length);
      Bytes out(length + 16, 0xAA);
      cfbDecryptBlocks(keys.encryption, iv.data(), cipher.data(), out.data(), length);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), expected) << length;
      EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xAA)) << length << ": wrote past the end";
      Bytes inPlace = cipher;
      cfbDecryptBlocks(keys.encryption, iv.data(), inPlace.data(), inPlace.data(), length);
      EXPECT_EQ(inPlace, expected) << length << " in place";
    }
  }
}

// The wide loops take whole groups only and hand over where the narrower loops carry on.
TEST(AesBlockLoops, WideLoopsStopAtTheLastWholeGroup) {
  if (!haveWideAes()) GTEST_SKIP() << "no 256-bit AES instructions";
  const Keys keys;
  for (const std::size_t length :
       {kWideAesGroupBytes - 16, kWideAesGroupBytes, 2 * kWideAesGroupBytes + 48, 3 * kWideAesGroupBytes + 48}) {
    const Bytes cipher = pattern(length, 3);
    Bytes out(length, 0xAA);
    std::uint64_t low = 0x8000000000000001;
    std::uint64_t high = 0xFFFF000000000000;
    std::uint64_t expectedLow = low;
    std::uint64_t expectedHigh = high;
    const std::size_t done = wideXtsDecrypt(keys.decryption, cipher.data(), out.data(), length, low, high);
    EXPECT_EQ(done, length / kWideAesGroupBytes * kWideAesGroupBytes);
    for (std::size_t at = 0; at < done; at += 16) doubleXtsTweak(expectedLow, expectedHigh);
    EXPECT_EQ(low, expectedLow) << length;
    EXPECT_EQ(high, expectedHigh) << length;
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(done), out.end()), Bytes(length - done, 0xAA)) << length;

    std::uint8_t feedback[16] = {1, 2, 3};
    const Bytes iv(feedback, feedback + 16);
    EXPECT_EQ(wideCfbDecrypt(keys.encryption, feedback, cipher.data(), out.data(), length), done);
    const Bytes expectedFeedback = done == 0 ? iv
                                             : Bytes(cipher.begin() + static_cast<std::ptrdiff_t>(done) - 16,
                                                     cipher.begin() + static_cast<std::ptrdiff_t>(done));
    EXPECT_EQ(Bytes(feedback, feedback + 16), expectedFeedback) << length;
  }
}

}  // namespace
}  // namespace sorvel
