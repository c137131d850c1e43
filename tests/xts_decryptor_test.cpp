#include "crypto/XtsDecryptor.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "aesxts/libaesxts/cryptaesxts.h"
#include "support/HexBytes.h"

namespace sorvel {
namespace {

using testing::hexBytes;

// IEEE 1619 vector 10's key (e's digits, then pi's) and the tweak of data unit 0xFF.
const Bytes kKey = hexBytes(
    "2718281828459045235360287471352662497757247093699959574966967627"
    "3141592653589793238462643383279502884197169399375105820974944592");
const std::array<std::uint8_t, 16> kTweak{0xFF};

Bytes pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  return bytes;
}

TEST(XtsDecryptor, KnownVectorDecrypts) {
  Bytes plain(512);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i);
  const Bytes cipher = xtsEncrypt(plain.data(), plain.size(), kKey, kTweak);
  ASSERT_EQ(testing::toHex(Bytes(cipher.begin(), cipher.begin() + 32)),
            "1C3B3A102F770386E4836C99E370CF9BEA00803F5E482357A4AE12D414A3E63B");
  Bytes out(plain.size());
  ASSERT_TRUE(XtsDecryptor(kKey).decrypt(cipher.data(), out.data(), out.size(), kTweak));
  EXPECT_EQ(out, plain);
}

// Whole units of any length, over several rounds of prepared tweaks, in place or not, give the
// wrappers' bytes.
TEST(XtsDecryptor, EqualsTheWrappersForEveryWholeBlockLength) {
  const XtsDecryptor decryptor(kKey);
  for (const std::size_t length : {16, 32, 1008, 1024, 1040, 4096, 16384}) {
    const std::array<std::uint8_t, 16> tweak{0, 0, 0, 0, 0, 0, 0,    0,
                                             0, 0, 0, 0, 0, 0, 0x30, static_cast<std::uint8_t>(length)};
    const Bytes cipher = pattern(length);
    const Bytes expected = xtsDecrypt(cipher.data(), length, kKey, tweak);
    Bytes out(length + 16, 0xAA);
    ASSERT_TRUE(decryptor.decrypt(cipher.data(), out.data(), length, tweak)) << length;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), expected) << length;
    EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xAA)) << length << ": wrote past the unit";
    Bytes inPlace = cipher;
    ASSERT_TRUE(decryptor.decrypt(inPlace.data(), inPlace.data(), length, tweak)) << length;
    EXPECT_EQ(inPlace, expected) << length;
  }
}

TEST(XtsDecryptor, RefusesUnitsThatNeedCiphertextStealing) {
  const XtsDecryptor decryptor(kKey);
  for (const std::size_t length : {0, 15, 17, 4100}) {
    const Bytes cipher = pattern(length + 1);
    Bytes out(length + 1, 0xAA);
    EXPECT_FALSE(decryptor.decrypt(cipher.data(), out.data(), length, kTweak)) << length;
    EXPECT_EQ(out, Bytes(length + 1, 0xAA)) << length;
  }
}

}  // namespace
}  // namespace sorvel
