// The header's fields at their offsets, and the magic comparison.
#include "archive/ArchiveHeader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace sorvel {
namespace {

TEST(ArchiveHeader, ReadsEachFieldFromItsOffset) {
  std::array<std::uint8_t, kArchiveHeaderSize> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const ArchiveHeader header = ArchiveHeader::parse(bytes.data());

  EXPECT_EQ(header.magic[0], bytes[0]);
  EXPECT_EQ(header.magic[31], bytes[31]);
  EXPECT_EQ(header.paramWord, bytes[32] | bytes[33] << 8);
  EXPECT_EQ(header.lastBlock,
            static_cast<std::uint32_t>(bytes[34] | bytes[35] << 8 | bytes[36] << 16) | std::uint32_t{bytes[37]} << 24);
  EXPECT_EQ(header.keySalt[0], bytes[38]);
  EXPECT_EQ(header.keySalt[15], bytes[53]);
  EXPECT_EQ(header.authType, bytes[54]);
  EXPECT_EQ(header.cipherType, bytes[55]);
  EXPECT_EQ(header.noPassword, bytes[56]);
  EXPECT_EQ(header.headerSignature, bytes[766] | bytes[767] << 8);
}

TEST(ArchiveHeader, WritesTheSameLayoutItReads) {
  ArchiveHeader header;
  header.setMagic();
  header.paramWord = 0x0100;
  header.lastBlock = 0x12345678;
  for (std::size_t i = 0; i < header.keySalt.size(); ++i)
    header.keySalt[i] = static_cast<std::uint8_t>(i == 3 ? 0 : 0xA0 + i);
  header.authType = 1;
  header.cipherType = 3;
  header.noPassword = 1;
  header.headerSignature = kHeaderSignature;
  const auto bytes = header.serialize();

  EXPECT_EQ(std::memcmp(bytes.data(), "KOLMARD VALDO ARCHIVE\0", 22), 0);
  EXPECT_EQ(bytes[32], 0x00);
  EXPECT_EQ(bytes[33], 0x01);
  EXPECT_EQ(bytes[34], 0x78);
  EXPECT_EQ(bytes[37], 0x12);
  EXPECT_EQ(bytes[41], 0x00);  // the zero byte of the salt is stored like any other
  EXPECT_EQ(bytes[53], 0xAF);
  EXPECT_EQ(bytes[54], 1);
  EXPECT_EQ(bytes[55], 3);
  EXPECT_EQ(bytes[56], 1);
  EXPECT_EQ(bytes[766], 0x01);
  EXPECT_EQ(bytes[767], 0xFF);
  for (std::size_t i = 57; i < 766; ++i) ASSERT_EQ(bytes[i], 0) << i;

  const ArchiveHeader back = ArchiveHeader::parse(bytes.data());
  EXPECT_EQ(back.magic, header.magic);
  EXPECT_EQ(back.paramWord, header.paramWord);
  EXPECT_EQ(back.lastBlock, header.lastBlock);
  EXPECT_EQ(back.keySalt, header.keySalt);
  EXPECT_EQ(back.headerSignature, kHeaderSignature);
}

TEST(ArchiveHeader, MagicIsComparedAsNulTerminatedText) {
  struct Case {
    const char* name;
    void (*change)(ArchiveHeader&);
    bool matches;
  };
  const Case cases[] = {
      {"exact", [](ArchiveHeader&) {}, true},
      {"noise after the NUL", [](ArchiveHeader& h) { std::memset(h.magic.data() + 22, 0x5A, 10); }, true},
      {"byte 21 not NUL", [](ArchiveHeader& h) { h.magic[21] = ' '; }, false},
      {"last letter differs", [](ArchiveHeader& h) { h.magic[20] = 'e'; }, false},
      {"first letter lower case", [](ArchiveHeader& h) { h.magic[0] = 'k'; }, false},
      {"shorter text", [](ArchiveHeader& h) { h.magic[20] = 0; }, false},
      {"all zero", [](ArchiveHeader& h) { h.magic.fill(0); }, false},
  };
  for (const Case& c : cases) {
    ArchiveHeader header;
    header.setMagic();
    c.change(header);
    EXPECT_EQ(header.magicMatches(), c.matches) << c.name;
  }
}

}  // namespace
}  // namespace sorvel
