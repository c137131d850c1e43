#include "crypto/KeyBlock.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/HexBytes.h"

namespace sorvel {
namespace {

// A hand-laid key block: every field at its byte offset, little-endian, reserved bytes noise.
Bytes handLaidKeyBlock() {
  Bytes bytes(kKeyBlockSize, 0x5A);
  bytes[3] = 0x02;                                    // dataCipherType
  const Bytes count = testing::hexBytes("78563412");  // chainEntryCount 0x12345678
  std::copy(count.begin(), count.end(), bytes.begin() + 6);
  const Bytes digest = testing::textBytes("D41D8CD98F00B204E9800998ECF8427E");  // passwordDigest
  std::copy(digest.begin(), digest.end(), bytes.begin() + 10);
  for (int i = 0; i < 16; ++i) bytes[static_cast<std::size_t>(42 + i)] = static_cast<std::uint8_t>(0xA0 + i);
  bytes[206] = 0x02;  // keyRecordSignature 0xFF02
  bytes[207] = 0xFF;
  bytes[254] = 0x03;  // keyBlockEndSignature 0xFF03
  bytes[255] = 0xFF;
  return bytes;
}

TEST(KeyBlockLayout, ParseReadsEveryFieldAtItsOffset) {
  const Bytes bytes = handLaidKeyBlock();
  const KeyBlock block = KeyBlock::parse(bytes.data());
  EXPECT_EQ(block.record.dataCipherType, 2);
  EXPECT_EQ(block.record.chainEntryCount, 0x12345678u);
  EXPECT_EQ(testing::toHex(block.record.passwordDigest.data(), 32),
            testing::toHex(testing::textBytes("D41D8CD98F00B204E9800998ECF8427E")));
  EXPECT_EQ(testing::toHex(block.record.dataSalt.data(), 16), "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
  EXPECT_EQ(block.record.keyRecordSignature, kKeyRecordSignature);
  EXPECT_EQ(block.keyBlockEndSignature, kKeyBlockEndSignature);
}

TEST(KeyBlockLayout, SerialiseWritesTheSameBytesWithReservedZero) {
  Bytes expected = handLaidKeyBlock();
  const KeyBlock block = KeyBlock::parse(expected.data());
  for (auto [from, to] : {std::pair{0, 3}, {4, 6}, {58, 206}, {208, 254}}) {
    std::fill(expected.begin() + from, expected.begin() + to, 0);
  }
  EXPECT_EQ(testing::toHex(block.serialise()), testing::toHex(expected));
}

}  // namespace
}  // namespace sorvel
