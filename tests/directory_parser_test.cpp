#include "tree/DirectoryParser.h"

#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "base/Bytes.h"

namespace sorvel {
namespace {

// Lays out directory groups by hand: name entries (last name units first) then the item entry.
struct DirectoryWriter {
  Bytes bytes;

  void group(const std::u16string& name, std::uint8_t attributes = 0, std::uint64_t size = 0,
             std::uint32_t firstBlock = 0) {
    const std::size_t n = name.empty() ? 1 : (name.size() + 19) / 20;
    for (std::size_t k = 0; k < n; ++k) {
      // Entry k of the group carries units [(n-1-k)*20, (n-k)*20).
      std::uint8_t e[48] = {};
      if (k == 0) {
        e[0] = static_cast<std::uint8_t>(0x40 | n);
        e[1] = 0x0F;
      }
      for (std::size_t i = 0; i < 20; ++i) {
        const std::size_t unit = (n - 1 - k) * 20 + i;
        if (unit < name.size()) storeU16(e + 2 + 2 * i, name[unit]);
      }
      storeU16(e + 46, 0xFF04);
      bytes.insert(bytes.end(), e, e + 48);
    }
    std::uint8_t item[48] = {};
    item[1] = attributes;
    storeU64(item + 2, size);
    storeI64(item + 10, 1000);
    storeI64(item + 18, 2000);
    storeI64(item + 26, 3000);
    storeU16(item + 34, static_cast<std::uint16_t>(firstBlock));
    storeU16(item + 36, static_cast<std::uint16_t>(firstBlock >> 16));
    storeU16(item + 46, 0xFF05);
    bytes.insert(bytes.end(), item, item + 48);
  }
  void padTo(std::size_t length) { bytes.resize(length, 0); }
};

// The items keyed by name, to look them up.
NameMap<ItemRecord> parse(const Bytes& bytes, bool expectOk = true) {
  ParsedDirectory directory;
  EXPECT_EQ(parseDirectory(bytes.data(), bytes.size(), directory), expectOk);
  NameMap<ItemRecord> out;
  for (const DirectoryItem& item : directory.items) out.emplace(std::u16string(directory.name(item)), item.record);
  return out;
}

TEST(ParseDirectory, ReadsFieldsFromTheirOffsets) {
  DirectoryWriter w;
  w.group(u"a.txt", 0x21, 0x0102030405060708ULL, 0x00010002);
  w.padTo(16384);
  auto items = parse(w.bytes);
  ASSERT_EQ(items.size(), 1u);
  const ItemRecord& r = items.at(u"a.txt");
  EXPECT_EQ(r.attributes(), 0x21);
  EXPECT_EQ(r.size(), 0x0102030405060708ULL);
  EXPECT_EQ(r.firstBlock(), 0x00010002u);
  EXPECT_EQ(r.created, 1000);
  EXPECT_EQ(r.modified, 2000);
  EXPECT_EQ(r.accessed, 3000);
  EXPECT_FALSE(r.isFolder());
}

// Only the read-only bit reaches the extracted file; hidden, system and archive bits do not.
TEST(ParseDirectory, ReadOnlyIsTheLowAttributeBit) {
  const struct {
    std::uint8_t attributes;
    bool readOnly;
  } cases[] = {{0x00, false}, {0x20, false}, {0x06, false}, {0x01, true}, {0x21, true}, {0x27, true}};
  for (const auto& c : cases) {
    DirectoryWriter w;
    w.group(u"a", c.attributes);
    w.padTo(16384);
    auto items = parse(w.bytes);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items.at(u"a").isReadOnly(), c.readOnly) << int{c.attributes};
  }
}

TEST(ParseDirectory, AssemblesNamesFromEntriesInReverseOrder) {
  const std::u16string twenty = u"abcdefghijklmnopqrst";
  const std::u16string twentyFive = u"ABCDEFGHIJKLMNOPQRSTuvwxy";
  const std::u16string fortyOne = u"0123456789abcdefghij0123456789ABCDEFGHIJz";
  DirectoryWriter w;
  w.group(twenty);
  w.group(twentyFive);
  w.group(fortyOne);
  w.group(u"a/b");
  w.padTo(16384);
  auto items = parse(w.bytes);
  EXPECT_EQ(items.size(), 4u);
  for (const auto& name : {twenty, twentyFive, fortyOne, std::u16string(u"a/b")}) {
    auto it = items.find(name);
    ASSERT_NE(it, items.end());
    EXPECT_EQ(it->first, name);  // spelled exactly, no unit lost or added
  }
}

TEST(ParseDirectory, StopsAtAZeroByteOrAByteWithoutTheGroupFlag) {
  for (std::uint8_t stop : {std::uint8_t{0x00}, std::uint8_t{0x80}}) {
    DirectoryWriter w;
    w.group(u"before");
    w.bytes.push_back(stop);
    w.bytes.push_back(0x0F);
    w.padTo(16384);
    auto items = parse(w.bytes);
    EXPECT_EQ(items.size(), 1u) << int(stop);
  }
  DirectoryWriter empty;
  empty.padTo(16384);
  EXPECT_TRUE(parse(empty.bytes).empty());
}

TEST(ParseDirectory, ReadsAGroupOnlyWhenAtLeast97BytesRemain) {
  struct Case {
    std::size_t groupOffset, length;
    bool read;
  };
  const Case cases[] = {
      {16272, 16384, true},                // 112 bytes remain
      {16320, 16384, false},               // 64 bytes remain
      {3 * 16384 - 96, 3 * 16384, false},  // a 96-byte group ending exactly at the end
      {3 * 16384 - 144, 3 * 16384, true},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.groupOffset % 48, 0u);
    DirectoryWriter w;
    std::size_t filler = 0;
    auto fillerName = [&filler] { return u"filler" + std::u16string(1, char16_t(0x4E00 + filler++)); };
    if (c.groupOffset / 48 % 2 == 1) w.group(fillerName() + u" with a name of two entries");
    while (w.bytes.size() < c.groupOffset) w.group(fillerName());
    ASSERT_EQ(w.bytes.size(), c.groupOffset);
    w.group(u"last");
    w.padTo(c.length);
    auto items = parse(w.bytes);
    EXPECT_EQ(items.contains(u"last"), c.read) << c.groupOffset << " of " << c.length;
    EXPECT_EQ(items.size(), filler + (c.read ? 1 : 0));
  }
}

TEST(ParseDirectory, AGroupRunningPastTheEndEndsTheDirectory) {
  DirectoryWriter w;
  w.group(u"kept");
  w.group(u"a name that needs three entries of twenty units");
  w.bytes.resize(96 + 97);  // only part of the second group is there
  auto items = parse(w.bytes);
  EXPECT_EQ(items.size(), 1u);
  EXPECT_TRUE(items.contains(u"kept"));
}

TEST(ParseDirectory, AWrongSignatureOrANamelessGroupVoidsTheWholeDirectory) {
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  };
  const Case cases[] = {
      {"item entry signature", 96 + 46, 0x06},
      {"name entry signature", 96 + 47, 0xFE},
      {"no name marker", 96 + 1, 0x0E},
      {"zero name entries", 96, 0x40},
  };
  for (const Case& c : cases) {
    DirectoryWriter w;
    w.group(u"first");
    w.group(u"second");
    w.padTo(16384);
    w.bytes[c.offset] = c.value;
    EXPECT_TRUE(parse(w.bytes, false).empty()) << c.what;
  }
}

TEST(ParseDirectory, NamesDifferingInAsciiCaseAreOneItemWithTheLaterRecord) {
  DirectoryWriter w;
  w.group(u"Readme.TXT", 0, 1);
  w.group(u"README.txt", 0, 2);
  w.group(u"\u00C9t\u00E9", 0, 3);
  w.group(u"\u00E9t\u00E9", 0, 4);
  w.padTo(16384);
  auto items = parse(w.bytes);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items.begin()->first, u"Readme.TXT");
  EXPECT_EQ(items.begin()->second.size(), 2u);
  EXPECT_EQ(items.at(u"\u00C9t\u00E9").size(), 3u);
}

TEST(ParseDirectory, DataShorterThan97BytesHoldsNoItems) {
  DirectoryWriter w;
  w.group(u"x");
  EXPECT_EQ(w.bytes.size(), 96u);
  EXPECT_TRUE(parse(w.bytes).empty());
}

}  // namespace
}  // namespace sorvel
