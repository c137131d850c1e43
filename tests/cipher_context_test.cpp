#include "crypto/CipherContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <crypto++/sha.h>

#include "crypto/CfbTransform.h"
#include "crypto/XtsKey.h"
#include "support/HexBytes.h"

namespace sorvel {
namespace {

using testing::hexBytes;
using testing::textBytes;
using testing::toHex;

constexpr std::int32_t kNone = static_cast<std::int32_t>(CipherType::None);
constexpr std::int32_t kAesCfb = static_cast<std::int32_t>(CipherType::AesCfb);
constexpr std::int32_t kBlowfish = static_cast<std::int32_t>(CipherType::Blowfish);
constexpr std::int32_t kAesXts = static_cast<std::int32_t>(CipherType::AesXts);
constexpr std::size_t kStorageBlockSize = 16384;

const Bytes kPassword40 = textBytes("correct horse battery staple!0123456789x");
const Bytes kSalt = hexBytes("000102030405060708090a0b0c0d0e0f");
const Bytes kFox = textBytes("The quick brown fox jumps over the lazy dog.");

void configure(CipherContext& context, std::int32_t type, const Bytes& key, const Bytes& salt) {
  context.setType(type);
  context.setKey(key);
  context.setSalt(salt.data(), salt.size());
}

Bytes pattern(std::size_t length, unsigned seed = 3) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return bytes;
}

Bytes prefix(const Bytes& bytes, std::size_t length) { return Bytes(bytes.begin(), bytes.begin() + length); }

std::string sha256Hex(const std::uint8_t* data, std::size_t length) {
  Bytes digest(CryptoPP::SHA256::DIGESTSIZE);
  CryptoPP::SHA256().CalculateDigest(digest.data(), data, length);
  return toHex(digest);
}

// --- empty key and types without a cipher ---

TEST(CipherContextEmptyKey, CopiesForEveryType) {
  const Bytes data = hexBytes("0102030405");
  for (std::int32_t type : {kNone, kAesCfb, kBlowfish, kAesXts, 4, 255, -1}) {
    CipherContext context;
    configure(context, type, Bytes{}, kSalt);
    for (std::uint32_t block : {0u, 2u}) {
      EXPECT_EQ(context.encrypt(data.data(), data.size(), block), data) << "type " << type;
      EXPECT_EQ(context.decrypt(data.data(), data.size(), block), data) << "type " << type;
      Bytes out(data.size(), 0);
      EXPECT_TRUE(context.decryptInto(data.data(), out.data(), out.size(), block));
      EXPECT_EQ(out, data) << "type " << type;
    }
    EXPECT_FALSE(context.encrypt(data.data(), 0, 2)) << "type " << type;
    EXPECT_FALSE(context.decrypt(data.data(), 0, 2)) << "type " << type;
    EXPECT_FALSE(context.decryptInto(data.data(), nullptr, 0, 2)) << "type " << type;
  }
}

TEST(CipherContextUnknownType, NonEmptyKeyYieldsNothing) {
  const Bytes data = pattern(64);
  for (std::int32_t type : {kNone, 4, 255, -1}) {
    CipherContext context;
    configure(context, type, textBytes("pw"), kSalt);
    EXPECT_FALSE(context.encrypt(data.data(), data.size(), 2)) << "type " << type;
    EXPECT_FALSE(context.decrypt(data.data(), data.size(), 2)) << "type " << type;
    Bytes out(data.size());
    EXPECT_FALSE(context.decryptInto(data.data(), out.data(), out.size(), 2)) << "type " << type;
  }
}

// --- AesCfb ---

struct CfbVector {
  const char* name;
  Bytes key;
  Bytes salt;
  Bytes plain;
  const char* cipherHex;
};

// Expected bytes from `openssl enc -aes-256-cfb -K <key zero-padded to 32 bytes> -iv <salt
// zero-padded to 16 bytes> -nopad`.
TEST(CipherContextCfb, MatchesAes256CfbKnownAnswers) {
  const CfbVector vectors[] = {
      {"40-byte password", kPassword40, kSalt, kFox,
       "959929e17d06d30707e62682cac5025e346fa2c674c45955c6ef598873433dc9294db9103dd10883ed06d13d"},
      {"32-byte prefix of it", prefix(kPassword40, 32), kSalt, kFox,
       "959929e17d06d30707e62682cac5025e346fa2c674c45955c6ef598873433dc9294db9103dd10883ed06d13d"},
      {"short password, empty salt", textBytes("secret"), Bytes{}, kFox,
       "80c6a66428356a042174f5ec2ecccbc8e43abcdd48943618289adf9817f5c05672583233e28d71d975170b17"},
  };
  for (const auto& v : vectors) {
    CipherContext context;
    configure(context, kAesCfb, v.key, v.salt);
    const Bytes expected = hexBytes(v.cipherHex);

    const auto encrypted = context.encrypt(v.plain.data(), v.plain.size(), 7);
    ASSERT_TRUE(encrypted) << v.name;
    ASSERT_EQ(encrypted->size(), kCfbChunkSize) << v.name;
    EXPECT_EQ(prefix(*encrypted, expected.size()), expected) << v.name;
    EXPECT_TRUE(std::all_of(encrypted->begin() + static_cast<std::ptrdiff_t>(expected.size()), encrypted->end(),
                            [](std::uint8_t b) { return b == 0; }))
        << v.name;

    const auto decrypted = context.decrypt(expected.data(), expected.size(), 7);
    ASSERT_TRUE(decrypted) << v.name;
    EXPECT_EQ(prefix(*decrypted, v.plain.size()), v.plain) << v.name;
  }
}

// Each 4096-byte chunk restarts from the same key and IV. Expected digest from the first 4096
// input bytes and the last 100 sent separately through `openssl enc -aes-256-cfb -nopad`, the two
// outputs concatenated and hashed with sha256sum.
TEST(CipherContextCfb, ChunksRestartFromKeyAndIv) {
  const Bytes plain = pattern(4096 + 100);
  CipherContext context;
  configure(context, kAesCfb, kPassword40, kSalt);
  const auto encrypted = context.encrypt(plain.data(), plain.size(), 2);
  ASSERT_TRUE(encrypted);
  ASSERT_EQ(encrypted->size(), 2 * kCfbChunkSize);
  EXPECT_EQ(sha256Hex(encrypted->data(), plain.size()),
            "96263864958E042A4EE18D9AFF4D5D45B4C89CBD0F047C0F7C590925D8FF6021");
}

TEST(CipherContextCfb, IdenticalChunksGiveIdenticalOutputAnywhere) {
  const Bytes chunk = pattern(kCfbChunkSize, 11);
  Bytes twoChunks = chunk;
  twoChunks.insert(twoChunks.end(), chunk.begin(), chunk.end());
  CipherContext context;
  configure(context, kAesCfb, textBytes("pw"), kSalt);

  const auto first = context.decrypt(twoChunks.data(), twoChunks.size(), 2);
  ASSERT_TRUE(first);
  EXPECT_EQ(prefix(*first, kCfbChunkSize), Bytes(first->begin() + kCfbChunkSize, first->end()));
  const auto otherBlock = context.decrypt(chunk.data(), chunk.size(), 9);
  ASSERT_TRUE(otherBlock);
  EXPECT_EQ(*otherBlock, prefix(*first, kCfbChunkSize));
}

TEST(CipherContextCfb, KeyBlockSizedInputGivesOneZeroPaddedChunk) {
  const Bytes keyBlock = pattern(256);
  CipherContext context;
  configure(context, kAesCfb, textBytes("pw"), kSalt);
  const auto decrypted = context.decrypt(keyBlock.data(), keyBlock.size(), 0);
  ASSERT_TRUE(decrypted);
  ASSERT_EQ(decrypted->size(), kCfbChunkSize);
  EXPECT_TRUE(std::all_of(decrypted->begin() + 256, decrypted->end(), [](std::uint8_t b) { return b == 0; }));
  const auto back = context.encrypt(decrypted->data(), 256, 0);
  ASSERT_TRUE(back);
  EXPECT_EQ(prefix(*back, 256), keyBlock);
}

// Decryption runs eight blocks side by side, then single blocks, then a partial one, each chunk
// from the IV: lengths around each of those edges decrypt what encryption made, in place or not.
TEST(CipherContextCfb, DecryptionUndoesEncryptionAtEveryEdge) {
  CipherContext context;
  configure(context, kAesCfb, kPassword40, kSalt);
  for (const std::size_t length : {1, 15, 16, 17, 127, 128, 129, 143, 4095, 4096, 4097, 4096 + 130, 16384}) {
    const Bytes plain = pattern(length, 3);
    const auto encrypted = context.encrypt(plain.data(), plain.size(), 5);
    ASSERT_TRUE(encrypted) << length;
    const auto decrypted = context.decrypt(encrypted->data(), length, 5);
    ASSERT_TRUE(decrypted) << length;
    EXPECT_EQ(prefix(*decrypted, length), plain) << length;
    Bytes inPlace(encrypted->begin(), encrypted->begin() + static_cast<std::ptrdiff_t>(length));
    ASSERT_TRUE(context.decryptInto(inPlace.data(), inPlace.data(), length, 5)) << length;
    EXPECT_EQ(inPlace, plain) << length;
  }
}

// --- Blowfish through the context ---

TEST(CipherContextBlowfish, UsesTheSignedEightByteScheduleOnLittleEndianHalves) {
  CipherContext context;
  // Key bytes 01 23 .. EF; halves 0x11111111 encrypt to 0x90D55016, 0x8D9725AC (see blowfish_test).
  configure(context, kBlowfish, hexBytes("0123456789ABCDEF 99"), kSalt);
  const Bytes plain = hexBytes("1111111111111111");
  const auto encrypted = context.encrypt(plain.data(), plain.size(), 0);
  ASSERT_TRUE(encrypted);
  EXPECT_EQ(toHex(*encrypted), "1650D590AC25978D");
}

TEST(CipherContextBlowfish, ThirteenBytesRoundTripToSixteen) {
  const Bytes plain = pattern(13);
  CipherContext context;
  configure(context, kBlowfish, textBytes("pw"), Bytes{});
  const auto encrypted = context.encrypt(plain.data(), plain.size(), 0);
  ASSERT_TRUE(encrypted);
  ASSERT_EQ(encrypted->size(), 16u);
  const auto decrypted = context.decrypt(encrypted->data(), encrypted->size(), 0);
  ASSERT_TRUE(decrypted);
  Bytes padded = plain;
  padded.resize(16, 0);
  EXPECT_EQ(*decrypted, padded);
  EXPECT_FALSE(context.encrypt(plain.data(), 0, 0));
  EXPECT_FALSE(context.decrypt(plain.data(), 0, 0));
}

// --- AesXts ---

TEST(XtsKeyMaterial, TweakHoldsTheBlockNumberBigEndianAtTheEnd) {
  EXPECT_EQ(toHex(makeTweak(0x01020304).data(), 16), "00000000000000000000000001020304");
  EXPECT_EQ(toHex(makeTweak(2).data(), 16), "00000000000000000000000000000002");
}

// Expected keys from `openssl kdf -keylen 64 -kdfopt digest:SHA256 -kdfopt hexkey:<password>
// -kdfopt hexsalt:<salt> -kdfopt info:SRV-AES256-XTS HKDF`.
TEST(XtsKeyMaterial, DeriveXtsKeyIsHkdfSha256OverTheWholePassword) {
  struct Case {
    Bytes key;
    Bytes salt;
    const char* expected;
  };
  const Case cases[] = {
      {textBytes("secret"), kSalt,
       "E416BE4900829F141D878291FA9D8AEEA07BDBB282507C90DBF321C6E21B8960"
       "AA40B91D6B6DECB0069729AC1C3C44F199C66E0659DB6B53DE06F8FDE7BD6440"},
      {kPassword40, kSalt,
       "887BBDE6D43439ACE94008A6084A22983C1D428D73C09B31EA15DA563BCF5F69"
       "7AC2C6A1D47561B68AD468A4F53C0C9EAC5850CC9DB697ADAA5C1D3A474B9405"},
      {textBytes("secret"), Bytes{},
       "310C8662E1BF2D37F5E50270332DE3456A6917740EC47C81BA7F5BB4B5D6866C"
       "3AB2F16C19A8D0E1964A3A2481B7F4F62E0F90BFCE9C11459298F5F6C275A584"},
  };
  for (const auto& c : cases) {
    const auto derived = deriveXtsKey(c.key, c.salt);
    EXPECT_EQ(toHex(derived.data(), derived.size()), c.expected);
  }
  const auto shortened = deriveXtsKey(prefix(kPassword40, 32), kSalt);
  EXPECT_NE(toHex(shortened.data(), shortened.size()), toHex(deriveXtsKey(kPassword40, kSalt).data(), 64))
      << "passwords sharing 32 bytes must not share an XTS key";
}

// Expected bytes from Python's `cryptography` package (OpenSSL's AES XTS) with the HKDF key of
// "secret" and the salt above, tweak 00..00 01020304.
TEST(CipherContextXts, MatchesXtsWithDerivedKeyAndBlockTweak) {
  CipherContext context;
  configure(context, kAesXts, textBytes("secret"), kSalt);
  const Bytes plain = pattern(64);
  const Bytes expected = hexBytes(
      "0c4bd8b07c41da94dfb96ed9ac8a58e05b4f384010620931170e12fd6d818878"
      "aa90d36dce3f828bad8767ce3a38df51a102ac417db5852ae47799afc1eca6aa");
  EXPECT_EQ(context.encrypt(plain.data(), plain.size(), 0x01020304), expected);
  EXPECT_EQ(context.decrypt(expected.data(), expected.size(), 0x01020304), plain);
  EXPECT_NE(context.decrypt(expected.data(), expected.size(), 0x01020305), plain);
}

TEST(CipherContextXts, BlockNumberZeroYieldsNothing) {
  CipherContext context;
  configure(context, kAesXts, textBytes("secret"), kSalt);
  const Bytes data = pattern(256);
  EXPECT_FALSE(context.encrypt(data.data(), data.size(), 0));
  EXPECT_FALSE(context.decrypt(data.data(), data.size(), 0));
  Bytes out(data.size());
  EXPECT_FALSE(context.decryptInto(data.data(), out.data(), out.size(), 0));
}

// A unit shorter than one AES block (the empty one included) cannot be processed: the context
// says so with an empty answer instead of letting the wrappers throw or stop the process.
TEST(CipherContextXts, UnitsShorterThanOneAesBlockYieldNothing) {
  CipherContext context;
  configure(context, kAesXts, textBytes("secret"), kSalt);
  const Bytes data = pattern(16);
  for (std::size_t length : {0, 1, 15}) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(context.encrypt(data.data(), length, 5));
    EXPECT_FALSE(context.decrypt(data.data(), length, 5));
    Bytes out(16);
    EXPECT_FALSE(context.decryptInto(data.data(), out.data(), length, 5));
  }
  const auto sealed = context.encrypt(data.data(), 16, 5);
  ASSERT_TRUE(sealed);
  EXPECT_EQ(context.decrypt(sealed->data(), 16, 5), data);
}

// --- decryptInto and the keyed state ---

struct Keying {
  const char* name;
  std::int32_t type;
  Bytes key;
  Bytes salt;
};

std::vector<Keying> everyCipher() {
  return {
      {"AesCfb", kAesCfb, kPassword40, kSalt},
      {"Blowfish", kBlowfish,
       textBytes("blow\xC3\xBF"
                 "fish"),
       kSalt},
      {"AesXts", kAesXts, textBytes("secret"), kSalt},
  };
}

TEST(CipherContextDecryptInto, EqualsDecryptForEveryCipher) {
  const Bytes stored = pattern(kStorageBlockSize, 5);
  for (const auto& k : everyCipher()) {
    CipherContext context;
    configure(context, k.type, k.key, k.salt);
    const auto expected = context.decrypt(stored.data(), stored.size(), 5);
    ASSERT_TRUE(expected) << k.name;
    ASSERT_EQ(expected->size(), kStorageBlockSize) << k.name;

    Bytes out(kStorageBlockSize + 4, 0xAA);
    ASSERT_TRUE(context.decryptInto(stored.data(), out.data(), kStorageBlockSize, 5)) << k.name;
    EXPECT_EQ(prefix(out, kStorageBlockSize), *expected) << k.name;
    EXPECT_EQ(Bytes(out.end() - 4, out.end()), Bytes(4, 0xAA)) << k.name << " wrote past the block";

    Bytes inPlace = stored;
    ASSERT_TRUE(context.decryptInto(inPlace.data(), inPlace.data(), inPlace.size(), 5)) << k.name;
    EXPECT_EQ(inPlace, *expected) << k.name;

    const auto back = context.encrypt(expected->data(), expected->size(), 5);
    ASSERT_TRUE(back) << k.name;
    EXPECT_EQ(*back, stored) << k.name;
  }
}

// Content reads decrypt only the wanted head of a file's last block: every cipher must give, for
// a head of whole 16-byte units, exactly the start of the whole block's decryption.
TEST(CipherContextDecryptInto, AHeadOfWholeUnitsIsTheStartOfTheWholeBlock) {
  const Bytes stored = pattern(kStorageBlockSize, 9);
  for (const auto& k : everyCipher()) {
    CipherContext context;
    configure(context, k.type, k.key, k.salt);
    const auto whole = context.decrypt(stored.data(), stored.size(), 77);
    ASSERT_TRUE(whole) << k.name;
    for (const std::size_t head : {std::size_t{16}, std::size_t{4096}, std::size_t{4112}, kStorageBlockSize - 16}) {
      Bytes out(head);
      ASSERT_TRUE(context.decryptInto(stored.data(), out.data(), head, 77)) << k.name << " " << head;
      EXPECT_EQ(out, prefix(*whole, head)) << k.name << " " << head;
    }
  }
}

// The keyed state is built once and reused; every setter must throw it away.
TEST(CipherContextKeyedState, FollowsEverySetter) {
  struct Change {
    const char* name;
    Keying before;
    Keying after;
  };
  const Change changes[] = {
      {"Blowfish key", {"", kBlowfish, textBytes("one"), kSalt}, {"", kBlowfish, textBytes("two"), kSalt}},
      {"AesCfb key", {"", kAesCfb, textBytes("one"), kSalt}, {"", kAesCfb, textBytes("two"), kSalt}},
      {"AesCfb salt", {"", kAesCfb, textBytes("one"), kSalt}, {"", kAesCfb, textBytes("one"), pattern(16)}},
      {"AesXts key", {"", kAesXts, textBytes("one"), kSalt}, {"", kAesXts, textBytes("two"), kSalt}},
      {"AesXts salt", {"", kAesXts, textBytes("one"), kSalt}, {"", kAesXts, textBytes("one"), pattern(16)}},
      {"type Blowfish to AesCfb", {"", kBlowfish, textBytes("one"), kSalt}, {"", kAesCfb, textBytes("one"), kSalt}},
      {"type AesCfb to AesXts", {"", kAesCfb, textBytes("one"), kSalt}, {"", kAesXts, textBytes("one"), kSalt}},
      {"key to empty", {"", kAesXts, textBytes("one"), kSalt}, {"", kAesXts, Bytes{}, kSalt}},
  };
  const Bytes stored = pattern(kStorageBlockSize, 9);
  for (const auto& c : changes) {
    CipherContext reused;
    configure(reused, c.before.type, c.before.key, c.before.salt);
    Bytes warmUp(kStorageBlockSize);
    ASSERT_TRUE(reused.decryptInto(stored.data(), warmUp.data(), warmUp.size(), 3)) << c.name;
    // Only the setter of what changes, so each must drop the keyed state on its own.
    if (c.after.type != c.before.type) reused.setType(c.after.type);
    if (c.after.key != c.before.key) reused.setKey(c.after.key);
    if (c.after.salt != c.before.salt) reused.setSalt(c.after.salt.data(), c.after.salt.size());

    CipherContext fresh;
    configure(fresh, c.after.type, c.after.key, c.after.salt);
    const auto expected = fresh.decrypt(stored.data(), stored.size(), 3);
    ASSERT_TRUE(expected) << c.name;
    EXPECT_NE(*expected, warmUp) << c.name << ": the change should matter";

    EXPECT_EQ(reused.decrypt(stored.data(), stored.size(), 3), expected) << c.name;
    Bytes out(kStorageBlockSize);
    ASSERT_TRUE(reused.decryptInto(stored.data(), out.data(), out.size(), 3)) << c.name;
    EXPECT_EQ(out, *expected) << c.name;
  }
}

TEST(CipherContextKeyedState, SettersKeepTheirValues) {
  CipherContext context;
  EXPECT_EQ(context.type(), 0);
  EXPECT_FALSE(context.hasKey());
  EXPECT_TRUE(context.salt().empty());
  configure(context, kAesXts, textBytes("pw"), kSalt);
  EXPECT_EQ(context.type(), kAesXts);
  EXPECT_TRUE(context.hasKey());
  EXPECT_EQ(context.salt(), kSalt);
}

// A context that has forgotten its key works on with the key schedule alone, byte for byte as
// before; once its type or salt changes it has no key to make a new schedule from.
TEST(CipherContextKeyedState, ForgettingTheKeyChangesNoByte) {
  const Bytes stored = pattern(kStorageBlockSize, 4);
  for (const auto& k : everyCipher()) {
    CipherContext keeping;
    configure(keeping, k.type, k.key, k.salt);
    CipherContext forgetting;
    configure(forgetting, k.type, k.key, k.salt);
    forgetting.forgetKey();
    EXPECT_TRUE(forgetting.hasKey()) << k.name;

    const auto expected = keeping.decrypt(stored.data(), stored.size(), 6);
    ASSERT_TRUE(expected) << k.name;
    EXPECT_EQ(forgetting.decrypt(stored.data(), stored.size(), 6), expected) << k.name;
    Bytes out(kStorageBlockSize);
    ASSERT_TRUE(forgetting.decryptInto(stored.data(), out.data(), out.size(), 6)) << k.name;
    EXPECT_EQ(out, *expected) << k.name;
    EXPECT_EQ(forgetting.encrypt(expected->data(), expected->size(), 6),
              keeping.encrypt(expected->data(), expected->size(), 6))
        << k.name;

    forgetting.setSalt(k.salt.data(), k.salt.size());
    EXPECT_FALSE(forgetting.hasKey()) << k.name;
    EXPECT_EQ(forgetting.decrypt(stored.data(), stored.size(), 6), stored) << k.name << ": unkeyed, a copy";
  }
}

// Both threads start before the keyed state exists, so they also race to build it.
TEST(CipherContextDecryptInto, ConcurrentCallsOnOneContextGiveTheRightBytes) {
  constexpr std::uint32_t kBlocks = 24;
  std::vector<Bytes> stored;
  for (std::uint32_t b = 0; b < kBlocks; ++b) stored.push_back(pattern(kStorageBlockSize, b));

  for (const auto& k : everyCipher()) {
    std::vector<Bytes> expected;
    {
      CipherContext reference;
      configure(reference, k.type, k.key, k.salt);
      for (std::uint32_t b = 0; b < kBlocks; ++b)
        expected.push_back(*reference.decrypt(stored[b].data(), kStorageBlockSize, b + 2));
    }

    CipherContext shared;
    configure(shared, k.type, k.key, k.salt);
    std::vector<int> mismatches(2, 0);
    auto worker = [&](int id) {
      Bytes out(kStorageBlockSize);
      for (int pass = 0; pass < 4; ++pass) {
        for (std::uint32_t i = 0; i < kBlocks; ++i) {
          const std::uint32_t b = id == 0 ? i : kBlocks - 1 - i;
          if (!shared.decryptInto(stored[b].data(), out.data(), out.size(), b + 2) || out != expected[b]) {
            ++mismatches[static_cast<std::size_t>(id)];
          }
        }
      }
    };
    std::thread first(worker, 0);
    std::thread second(worker, 1);
    first.join();
    second.join();
    EXPECT_EQ(mismatches[0], 0) << k.name;
    EXPECT_EQ(mismatches[1], 0) << k.name;
  }
}

}  // namespace
}  // namespace sorvel
