#include "tree/DetailTable.h"

#include <gtest/gtest.h>

#include "base/ByteOrder.h"

namespace sorvel {
namespace {

struct RecordSpec {
  std::u16string name;
  Bytes first, second;
  std::uint8_t marker = 0;  // lands in the uninterpreted bytes, to tell records apart
};

Bytes detailFile(const std::vector<RecordSpec>& records) {
  Bytes out(32, 0);
  storeU32(out.data(), static_cast<std::uint32_t>(records.size()));
  storeU16(out.data() + 30, 0xFF06);
  for (const RecordSpec& r : records) {
    std::uint8_t raw[768] = {};
    for (std::size_t i = 0; i < r.name.size(); ++i) storeU16(raw + 2 * i, r.name[i]);
    storeU32(raw + 553, static_cast<std::uint32_t>(r.first.size()));
    storeU32(raw + 557, static_cast<std::uint32_t>(r.second.size()));
    raw[600] = r.marker;
    storeU16(raw + 766, 0xFF07);
    out.insert(out.end(), raw, raw + 768);
  }
  for (const RecordSpec& r : records) out.insert(out.end(), r.first.begin(), r.first.end());
  for (const RecordSpec& r : records) out.insert(out.end(), r.second.begin(), r.second.end());
  return out;
}

bool parse(const Bytes& bytes, DetailTable& table) {
  BufferByteSource source(bytes.data(), bytes.size());
  return parseDetailTable(source, table);
}

TEST(DetailTable, CutsFirstBlobsThenSecondBlobsInRecordOrder) {
  Bytes data = detailFile({{u"one", {1, 2, 3}, {8, 9}}, {u"two", {4, 5, 6, 7, 0}, {}}});
  data.resize(16384);  // the chain's capacity: zeros behind the table
  DetailTable table;
  ASSERT_TRUE(parse(data, table));
  ASSERT_TRUE(table.records);
  const DetailRecord& one = *table.records->at(u"one");
  const DetailRecord& two = *table.records->at(u"two");
  EXPECT_EQ(one.firstBlob, (Bytes{1, 2, 3}));
  EXPECT_EQ(one.secondBlob, (Bytes{8, 9}));
  EXPECT_EQ(two.firstBlob, (Bytes{4, 5, 6, 7, 0}));
  EXPECT_TRUE(two.secondBlob.empty());
  EXPECT_EQ(table.header.recordCount(), 2u);
}

TEST(DetailTable, NoRecordsGivesATableWithoutRecords) {
  DetailTable table;
  ASSERT_TRUE(parse(detailFile({}), table));
  EXPECT_FALSE(table.records.has_value());
}

TEST(DetailTable, LaterRecordWinsUnderTheFirstSpelling) {
  DetailTable table;
  ASSERT_TRUE(parse(detailFile({{u"Photo.JPG", {}, {}, 1}, {u"photo.jpg", {}, {}, 2}}), table));
  ASSERT_EQ(table.records->size(), 1u);
  EXPECT_EQ(table.records->begin()->first, u"Photo.JPG");
  EXPECT_EQ(table.records->begin()->second->raw[600], 2);
}

TEST(DetailTable, RefusesATableThatCannotBeTrusted) {
  const Bytes good = detailFile({{u"a", {1}, {2}}, {u"b", {3}, {}}});
  struct Case {
    const char* what;
    Bytes bytes;
  };
  std::vector<Case> cases;
  {
    Bytes b = good;
    b[31] = 0xFE;
    cases.push_back({"header signature", b});
  }
  {
    Bytes b = good;
    storeU16(b.data() + 32 + 768 + 766, 0xFF08);
    cases.push_back({"second record signature", b});
  }
  {
    Bytes b = good;
    storeU32(b.data(), 3);
    cases.push_back({"records past the data", b});
  }
  {
    Bytes b = good;
    storeU32(b.data() + 32 + 557, 1000);
    cases.push_back({"blob past the data", b});
  }
  {
    Bytes b = good;
    for (std::size_t at = 0; at < 553; at += 2) storeU16(b.data() + 32 + at, u'x');
    cases.push_back({"name without an end", b});
  }
  cases.push_back({"shorter than a header", Bytes(20, 0)});
  for (const Case& c : cases) {
    DetailTable table;
    EXPECT_FALSE(parse(c.bytes, table)) << c.what;
  }
  DetailTable table;
  EXPECT_TRUE(parse(good, table));
}

TEST(DetailTable, ANameMayFillTheFieldUpToItsLastWholeUnit) {
  RecordSpec longName{std::u16string(275, u'n'), {}, {}};
  DetailTable table;
  ASSERT_TRUE(parse(detailFile({longName}), table));
  EXPECT_TRUE(table.records->contains(longName.name));
}

}  // namespace
}  // namespace sorvel
