#include "aesxts/libaesxts/cryptaesxts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include <crypto++/cryptlib.h>
#include <crypto++/sha.h>

#include "support/HexBytes.h"

namespace sorvel {
namespace {

using testing::hexBytes;
using testing::toHex;

// XTS-AES-256 vector 10 of IEEE 1619: key1 = e's digits, key2 = pi's digits, data unit 0xFF
// (tweak ff 00 .. 00), plaintext 00 01 .. FF 00 .. FF. The full 512-byte ciphertext is checked by
// its SHA-256, computed over the output of Python's `cryptography` package (OpenSSL's AES XTS).
class XtsVector10 : public ::testing::Test {
 protected:
  const Bytes key = hexBytes(
      "2718281828459045235360287471352662497757247093699959574966967627"
      "3141592653589793238462643383279502884197169399375105820974944592");
  const Bytes tweak = hexBytes("ff000000000000000000000000000000");
  Bytes plain = Bytes(512);
  const char* cipherStart = "1C3B3A102F770386E4836C99E370CF9BEA00803F5E482357A4AE12D414A3E63B";
  const char* cipherEnd = "773DAD38014BD2092FA755C824BB5E54C4F36FFDA9FCEA70B9C6E693E148C151";
  const char* cipherSha256 = "E97E974FA393AF794F7A4684395814CF820DE60A01EAEC677D87B452E316B364";

  void SetUp() override {
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i);
  }

  static std::string sha256Hex(const Bytes& data) {
    Bytes digest(CryptoPP::SHA256::DIGESTSIZE);
    CryptoPP::SHA256().CalculateDigest(digest.data(), data.data(), data.size());
    return toHex(digest);
  }
};

TEST_F(XtsVector10, EncryptMatches) {
  const Bytes cipher = xtsEncrypt(plain.data(), plain.size(), key, tweak);
  ASSERT_EQ(cipher.size(), plain.size());
  EXPECT_EQ(toHex(cipher.data(), 32), cipherStart);
  EXPECT_EQ(toHex(cipher.data() + 480, 32), cipherEnd);
  EXPECT_EQ(sha256Hex(cipher), cipherSha256);
}

TEST_F(XtsVector10, DecryptRestoresThePlaintext) {
  const Bytes cipher = xtsEncrypt(plain.data(), plain.size(), key, tweak);
  EXPECT_EQ(xtsDecrypt(cipher.data(), cipher.size(), key, tweak), plain);

  Bytes inPlace = cipher;
  xtsDecryptInto(inPlace.data(), inPlace.size(), key, tweak, inPlace.data());
  EXPECT_EQ(inPlace, plain);
}

// A data unit that is not a multiple of 16 bytes ends in ciphertext stealing. Expected bytes from
// Python's `cryptography` package with the same key and tweak over the plaintext's first bytes.
TEST_F(XtsVector10, PartialLastBlockUsesCiphertextStealing) {
  struct Case {
    std::size_t size;
    const char* cipherHex;
  };
  const Case cases[] = {
      {17, "990b3d5708499ecacac51584606f5d761c"},
      {40, "1c3b3a102f770386e4836c99e370cf9bf1b4320a978c7ad3f78d230b36c1bcd2ea00803f5e482357"},
  };
  for (const auto& c : cases) {
    const Bytes cipher = xtsEncrypt(plain.data(), c.size, key, tweak);
    EXPECT_EQ(cipher, hexBytes(c.cipherHex)) << c.size;
    EXPECT_EQ(xtsDecrypt(cipher.data(), cipher.size(), key, tweak), Bytes(plain.begin(), plain.begin() + c.size))
        << c.size;
  }
}

// The mode itself would read out of bounds on less than one block; the wrappers refuse instead.
TEST_F(XtsVector10, UnitShorterThanOneBlockThrows) {
  EXPECT_THROW(xtsEncrypt(plain.data(), 15, key, tweak), CryptoPP::Exception);
  EXPECT_THROW(xtsDecrypt(plain.data(), 1, key, tweak), CryptoPP::Exception);
}

TEST_F(XtsVector10, EncryptReportsTheFirstArgumentErrorInOrder) {
  struct Case {
    const char* name;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t keyLength;
    std::size_t tweakLength;
    const char* message;
  };
  const Case cases[] = {
      {"null data", nullptr, 16, 64, 16, "PlainData null or empty"},
      {"size 0 before a bad key", plain.data(), 0, 10, 3, "PlainData null or empty"},
      {"32-byte key", plain.data(), 16, 32, 16, "keystr length mismatch"},
      {"65-byte key before a bad tweak", plain.data(), 16, 65, 8, "keystr length mismatch"},
      {"8-byte tweak", plain.data(), 16, 64, 8, "ivstr must be 16 bytes (XTS tweak)"},
      {"17-byte tweak", plain.data(), 16, 64, 17, "ivstr must be 16 bytes (XTS tweak)"},
  };
  const Bytes longKey(65, 0x11);
  const Bytes longTweak(17, 0x22);
  for (const auto& c : cases) {
    try {
      xtsEncrypt(c.data, c.size, std::span(longKey.data(), c.keyLength), std::span(longTweak.data(), c.tweakLength));
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.name;
    }
  }
}

using XtsDecryptDeathTest = XtsVector10;

TEST_F(XtsDecryptDeathTest, ViolatedPreconditionsStopTheProcess) {
  const Bytes shortKey(32, 0x11);
  const Bytes shortTweak(8, 0x22);
  EXPECT_DEATH(xtsDecrypt(nullptr, 16, key, tweak), "nullptr != CipherData && 0 != nDataSize");
  EXPECT_DEATH(xtsDecrypt(plain.data(), 0, key, tweak), "nullptr != CipherData && 0 != nDataSize");
  EXPECT_DEATH(xtsDecrypt(plain.data(), 16, shortKey, tweak),
               "keystr\\.size\\(\\) == static_cast<size_t>\\(nKeyLength\\)");
  EXPECT_DEATH(xtsDecrypt(plain.data(), 16, key, shortTweak), "tweakstr\\.size\\(\\) == CryptoPP::AES::BLOCKSIZE");
}

}  // namespace
}  // namespace sorvel
