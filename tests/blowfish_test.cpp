#include "crypto/Blowfish.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iostream>
#include <string>

#include "base/ByteOrder.h"
#include "crypto/WideBlowfish.h"
#include "support/HexBytes.h"

namespace sorvel {
namespace {

using testing::hexBytes;
using testing::textBytes;
using testing::toHex;

struct BlockVector {
  const char* key;     // the 8 key bytes
  std::uint32_t left;  // plaintext halves as 32-bit values
  std::uint32_t right;
  std::uint32_t cipherLeft;
  std::uint32_t cipherRight;
};

void expectBlock(const BlockVector& v) {
  BlowfishState state;
  ASSERT_TRUE(state.setKey(hexBytes(v.key)));
  std::uint32_t l = v.left;
  std::uint32_t r = v.right;
  state.encryptBlock(l, r);
  EXPECT_EQ(l, v.cipherLeft) << "key " << v.key;
  EXPECT_EQ(r, v.cipherRight) << "key " << v.key;
  state.decryptBlock(l, r);
  EXPECT_EQ(l, v.left) << "key " << v.key;
  EXPECT_EQ(r, v.right) << "key " << v.key;
}

// Published 8-byte-key test vectors whose key bytes are all below 0x80 (where the signed key
// schedule agrees with the published one), and the all-0xFF key, where sign extension changes
// nothing either.
TEST(BlowfishBlock, PublishedVectorsWithAsciiKeys) {
  const BlockVector vectors[] = {
      {"0000000000000000", 0x00000000, 0x00000000, 0x4EF99745, 0x6198DD78},
      {"FFFFFFFFFFFFFFFF", 0xFFFFFFFF, 0xFFFFFFFF, 0x51866FD5, 0xB85ECB8A},
      {"FFFFFFFFFFFFFFFF", 0x00000000, 0x00000000, 0xF21E9A77, 0xB71C49BC},
      {"3000000000000000", 0x10000000, 0x00000001, 0x7D856F9A, 0x613063F2},
      {"1111111111111111", 0x11111111, 0x11111111, 0x2466DD87, 0x8B963C9D},
      {"1111111111111111", 0x01234567, 0x89ABCDEF, 0x7D0CC630, 0xAFDA1EC7},
      {"0101010101010101", 0x01234567, 0x89ABCDEF, 0xFA34EC48, 0x47B268B2},
      {"1F1F1F1F0E0E0E0E", 0x01234567, 0x89ABCDEF, 0xA7907951, 0x08EA3CAE},
      {"0000000000000000", 0xFFFFFFFF, 0xFFFFFFFF, 0x014933E0, 0xCDAFF6E4},
  };
  for (const auto& v : vectors) expectBlock(v);
}

// Keys with bytes of 0x80 and above: the schedule sign-extends them. Expected values come from an
// independent implementation of this schedule; the published schedule would give 61F9C3802281B096
// and 0ACEAB0FC6A0A28D.
TEST(BlowfishBlock, SignedKeyScheduleForHighKeyBytes) {
  const BlockVector vectors[] = {
      {"0123456789ABCDEF", 0x11111111, 0x11111111, 0x90D55016, 0x8D9725AC},
      {"FEDCBA9876543210", 0x01234567, 0x89ABCDEF, 0xF2D1C164, 0xBFB9E4EA},
  };
  for (const auto& v : vectors) expectBlock(v);
}

// The halves are little-endian in a buffer: L from bytes 0..3, R from bytes 4..7.
TEST(BlowfishBuffer, HalvesAreLittleEndianInMemory) {
  struct Case {
    const char* key;
    const char* plainBytes;
    const char* cipherBytes;
  };
  const Case cases[] = {
      {"0000000000000000", "0000000000000000", "4597F94E78DD9861"},
      // L = 0x01234567, R = 0x89ABCDEF as bytes; result halves 7D0CC630 AFDA1EC7.
      {"1111111111111111", "67452301EFCDAB89", "30C60C7DC71EDAAF"},
      {"0123456789ABCDEF", "1111111111111111", "1650D590AC25978D"},
  };
  for (const auto& c : cases) {
    BlowfishState state;
    state.setKey(hexBytes(c.key));
    const Bytes plain = hexBytes(c.plainBytes);
    const auto encrypted = state.encryptBuffer(plain.data(), plain.size());
    ASSERT_TRUE(encrypted);
    EXPECT_EQ(toHex(*encrypted), c.cipherBytes) << "key " << c.key;
    const auto decrypted = state.decryptBuffer(encrypted->data(), encrypted->size());
    ASSERT_TRUE(decrypted);
    EXPECT_EQ(*decrypted, plain);
  }
}

// Buffers are transformed several blocks side by side; every block must still come out as the
// single-block cipher makes it, in groups and in the blocks left over.
TEST(BlowfishBuffer, EveryBlockOfALongBufferIsTheSingleBlockResult) {
  BlowfishState state;
  state.setKey(hexBytes("6C616E65732DC3A9"));  // "lanes-" and a high byte pair
  constexpr std::size_t kBlocks = 13;
  Bytes plain(kBlocks * 8);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const auto encrypted = state.encryptBuffer(plain.data(), plain.size());
  ASSERT_TRUE(encrypted);
  for (std::size_t b = 0; b < kBlocks; ++b) {
    std::uint32_t l = loadU32(&plain[8 * b]);
    std::uint32_t r = loadU32(&plain[8 * b + 4]);
    state.encryptBlock(l, r);
    EXPECT_EQ(loadU32(&(*encrypted)[8 * b]), l) << "block " << b;
    EXPECT_EQ(loadU32(&(*encrypted)[8 * b + 4]), r) << "block " << b;
    state.decryptBlock(l, r);
    EXPECT_EQ(loadU32(&plain[8 * b]), l) << "block " << b;
  }
  EXPECT_EQ(state.decryptBuffer(encrypted->data(), encrypted->size()), plain);
}

// The key is always 8 bytes: longer keys are cut, shorter ones zero-padded.
TEST(BlowfishKey, OnlyTheFirstEightBytesZeroPaddedCount) {
  const Bytes block = hexBytes("0011223344556677");
  auto encryptWith = [&](const Bytes& key) {
    BlowfishState state;
    state.setKey(key);
    return *state.encryptBuffer(block.data(), block.size());
  };
  EXPECT_EQ(encryptWith(textBytes("password-long")), encryptWith(textBytes("password")));
  EXPECT_EQ(encryptWith(textBytes("abc")), encryptWith(hexBytes("6162630000000000")));
  EXPECT_EQ(encryptWith(Bytes{}), encryptWith(hexBytes("0000000000000000")));
  EXPECT_NE(encryptWith(textBytes("password")), encryptWith(textBytes("passwort")));
}

TEST(BlowfishKey, ReKeyingReplacesTheWholeSchedule) {
  const Bytes block = hexBytes("0011223344556677");
  BlowfishState reused;
  reused.setKey(textBytes("first"));
  reused.setKey(textBytes("second"));
  BlowfishState fresh;
  fresh.setKey(textBytes("second"));
  EXPECT_EQ(*reused.encryptBuffer(block.data(), 8), *fresh.encryptBuffer(block.data(), 8));
}

class BlowfishPartialBlock : public ::testing::Test {
 protected:
  void SetUp() override { state.setKey(textBytes("k\xC3\xA9y")); }
  BlowfishState state;
  const Bytes thirteen = textBytes("thirteen byte");
};

TEST_F(BlowfishPartialBlock, ThirteenBytesBecomeSixteenWithZeroPadding) {
  ASSERT_EQ(thirteen.size(), 13u);
  const auto encrypted = state.encryptBuffer(thirteen.data(), thirteen.size());
  ASSERT_TRUE(encrypted);
  ASSERT_EQ(encrypted->size(), 16u);

  Bytes padded = thirteen;
  padded.resize(16, 0);
  EXPECT_EQ(*encrypted, *state.encryptBuffer(padded.data(), padded.size()));

  const auto decrypted = state.decryptBuffer(encrypted->data(), encrypted->size());
  ASSERT_TRUE(decrypted);
  EXPECT_EQ(*decrypted, padded);
}

TEST_F(BlowfishPartialBlock, DecryptBufferPadsItsInputToo) {
  const auto decrypted = state.decryptBuffer(thirteen.data(), thirteen.size());
  ASSERT_TRUE(decrypted);
  ASSERT_EQ(decrypted->size(), 16u);
  Bytes padded = thirteen;
  padded.resize(16, 0);
  EXPECT_EQ(*decrypted, *state.decryptBuffer(padded.data(), padded.size()));
}

TEST_F(BlowfishPartialBlock, DecryptIntoWritesExactlyTheRequestedBytes) {
  const auto expected = state.decryptBuffer(thirteen.data(), thirteen.size());
  ASSERT_TRUE(expected);

  Bytes out(16, 0xAA);
  state.decryptInto(thirteen.data(), out.data(), thirteen.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 13), Bytes(expected->begin(), expected->begin() + 13));
  EXPECT_EQ(Bytes(out.begin() + 13, out.end()), Bytes(3, 0xAA)) << "wrote past the requested length";

  Bytes inPlace = thirteen;
  state.decryptInto(inPlace.data(), inPlace.data(), inPlace.size());
  EXPECT_EQ(inPlace, Bytes(expected->begin(), expected->begin() + 13));
}

TEST_F(BlowfishPartialBlock, EmptyInputYieldsNothing) {
  EXPECT_FALSE(state.encryptBuffer(thirteen.data(), 0));
  EXPECT_FALSE(state.decryptBuffer(thirteen.data(), 0));
}

TEST(BlowfishBuffer, BlocksAreIndependent) {
  BlowfishState state;
  state.setKey(textBytes("ecb"));
  const Bytes twice = hexBytes("0123456789ABCDEF0123456789ABCDEF");
  const auto encrypted = state.encryptBuffer(twice.data(), twice.size());
  ASSERT_TRUE(encrypted);
  EXPECT_EQ(Bytes(encrypted->begin(), encrypted->begin() + 8), Bytes(encrypted->begin() + 8, encrypted->end()));
}

// --- the wide rounds (64 blocks at a time where the processor has them) and the scalar ones ---

Bytes pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 7) * 29 + seed);
  return bytes;
}

// One block at a time through encryptBlock or decryptBlock: the reference for the buffer loops.
Bytes blockByBlock(const BlowfishState& state, Bytes data, bool decrypt) {
  data.resize((data.size() + 7) / 8 * 8, 0);
  for (std::size_t at = 0; at < data.size(); at += 8) {
    std::uint32_t l = loadU32(&data[at]);
    std::uint32_t r = loadU32(&data[at + 4]);
    decrypt ? state.decryptBlock(l, r) : state.encryptBlock(l, r);
    storeU32(&data[at], l);
    storeU32(&data[at + 4], r);
  }
  return data;
}

// Restores the wide rounds when a test that turned them off ends.
struct WideBlowfishSetting {
  explicit WideBlowfishSetting(bool allowed) { allowWideBlowfish(allowed); }
  ~WideBlowfishSetting() { allowWideBlowfish(true); }
};

// Every length across several groups of 64 blocks, each remainder of blocks and of bytes in a
// partial last block, with the wide rounds and with the scalar ones only: encryptBuffer,
// decryptBuffer and decryptInto (to another buffer and in place) give the block-by-block result.
TEST(BlowfishBuffer, WideAndScalarRoundsGiveTheBlockByBlockResultForEveryLength) {
  BlowfishState state;
  state.setKey(hexBytes("F0E1D2C3B4A59687"));  // high key bytes: the signed schedule
  constexpr std::size_t kLongest = 3 * kWideBlowfishGroupBytes + 9 * 8 + 7;
  for (const bool wide : {true, false}) {
    const WideBlowfishSetting setting(wide);
    if (wide && !haveWideBlowfish()) {
      std::cout << "no 512-bit byte permutes: the scalar rounds only\n";
      continue;
    }
    SCOPED_TRACE(wide ? "wide" : "scalar");
    for (std::size_t length = 1; length <= kLongest; ++length) {
      const Bytes data = pattern(length, static_cast<unsigned>(length));
      const Bytes encrypted = blockByBlock(state, data, false);
      const Bytes decrypted = blockByBlock(state, data, true);
      ASSERT_EQ(state.encryptBuffer(data.data(), length), encrypted) << length;
      ASSERT_EQ(state.decryptBuffer(data.data(), length), decrypted) << length;

      const Bytes expected(decrypted.begin(), decrypted.begin() + static_cast<std::ptrdiff_t>(length));
      Bytes out(length + 8, 0xAA);
      state.decryptInto(data.data(), out.data(), length);
      ASSERT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), expected) << length;
      ASSERT_EQ(Bytes(out.end() - 8, out.end()), Bytes(8, 0xAA)) << length << ": wrote past the end";
      Bytes inPlace = data;
      state.decryptInto(inPlace.data(), inPlace.data(), length);
      ASSERT_EQ(inPlace, expected) << length << " in place";
    }
  }
}

// The wide rounds take whole groups only and leave the rest of the buffer as it was.
TEST(BlowfishBuffer, WideRoundsStopAtTheLastWholeGroup) {
  if (!haveWideBlowfish()) GTEST_SKIP() << "no 512-bit byte permutes";
  BlowfishPlanes planes;
  std::array<std::uint32_t, kBlowfishPWords> p{};
  std::array<std::array<std::uint32_t, kBlowfishSBoxWords>, kBlowfishSBoxes> s{};
  // Any P and S make a cipher: encrypting undoes decrypting.
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = 0x9E3779B9u * static_cast<std::uint32_t>(i + 1);
  for (std::size_t k = 0; k < s.size(); ++k) {
    for (std::size_t e = 0; e < s[k].size(); ++e) s[k][e] = 0x85EBCA6Bu * static_cast<std::uint32_t>(k * 256 + e + 7);
  }
  makeBlowfishPlanes(p, s, planes);
  for (const std::size_t length :
       {kWideBlowfishGroupBytes - 8, kWideBlowfishGroupBytes, 2 * kWideBlowfishGroupBytes + 24}) {
    const Bytes data = pattern(length, 5);
    Bytes buffer = data;
    const std::size_t done = wideBlowfishDecrypt(planes, buffer.data(), length);
    EXPECT_EQ(done, length / kWideBlowfishGroupBytes * kWideBlowfishGroupBytes);
    EXPECT_EQ(Bytes(buffer.begin() + static_cast<std::ptrdiff_t>(done), buffer.end()),
              Bytes(data.begin() + static_cast<std::ptrdiff_t>(done), data.end()))
        << length;
    EXPECT_EQ(wideBlowfishEncrypt(planes, buffer.data(), length), done);
    EXPECT_EQ(buffer, data) << length << ": encryption undoes decryption";
  }
}

}  // namespace
}  // namespace sorvel
