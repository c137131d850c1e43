#include "support/ArchiveBuilder.h"

#include <crypto++/aes.h>
#include <crypto++/modes.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "base/ByteOrder.h"
#include "crypto/CipherContext.h"

namespace sorvel::testing {
namespace {

std::string textAt(const Bytes& bytes, std::size_t offset, std::size_t length) {
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

Bytes sliceOf(const Bytes& bytes, std::uint64_t offset, std::size_t length) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
               bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

std::u16string unitsAt(const Bytes& bytes, std::uint64_t offset, std::size_t count) {
  std::u16string units;
  for (std::size_t i = 0; i < count; ++i) units.push_back(static_cast<char16_t>(loadU16(&bytes[offset + 2 * i])));
  return units;
}

Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A plain archive with one file: root directory in block 2, the file in block 3, so the chain
// table has 4 entries and the data area starts at 1024 + 16 = 1040.
TEST(ArchiveBuilderEncoding, PlainArchiveHoldsEveryFieldAtItsOffset) {
  ArchiveBuilder builder;
  Item& file = builder.addFile(u"a.txt", "hello");
  file.created = 0x0102030405060708;
  const Bytes bytes = builder.build();
  ASSERT_EQ(bytes.size(), 1040u + 2 * 16384);

  EXPECT_EQ(textAt(bytes, 0, 22), std::string("KOLMARD VALDO ARCHIVE") + '\0');
  EXPECT_EQ(loadU32(&bytes[34]), 3u);  // lastBlock
  EXPECT_EQ(sliceOf(bytes, 38, 16), Bytes(builder.settings.keySalt.begin(), builder.settings.keySalt.end()));
  EXPECT_EQ(bytes[54], 1);  // authType
  EXPECT_EQ(bytes[55], 1);  // key block cipher
  EXPECT_EQ(bytes[56], 1);  // no password
  EXPECT_EQ(bytes[766], 0x01);
  EXPECT_EQ(bytes[767], 0xFF);

  EXPECT_EQ(bytes[768 + 3], 1);                                                // data cipher
  EXPECT_EQ(loadU32(&bytes[768 + 6]), 4u);                                     // chain entries
  EXPECT_EQ(textAt(bytes, 768 + 10, 32), "D41D8CD98F00B204E9800998ECF8427E");  // MD5 of ""
  EXPECT_EQ(sliceOf(bytes, 768 + 42, 16), Bytes(builder.settings.dataSalt.begin(), builder.settings.dataSalt.end()));
  EXPECT_EQ(loadU16(&bytes[768 + 206]), 0xFF02);
  EXPECT_EQ(loadU16(&bytes[768 + 254]), 0xFF03);

  EXPECT_EQ(loadU32(&bytes[1024 + 0]), 0u);
  EXPECT_EQ(loadU32(&bytes[1024 + 4]), 0u);
  EXPECT_EQ(loadU32(&bytes[1024 + 8]), 1u);   // block 2: end of the root directory
  EXPECT_EQ(loadU32(&bytes[1024 + 12]), 1u);  // block 3: end of the file

  const std::size_t group = 1040;
  EXPECT_EQ(bytes[group], 0x41);
  EXPECT_EQ(bytes[group + 1], 0x0F);
  EXPECT_EQ(unitsAt(bytes, group + 2, 6), std::u16string(u"a.txt") + u'\0');
  EXPECT_EQ(loadU16(&bytes[group + 46]), 0xFF04);
  const std::size_t entry = group + 48;
  EXPECT_EQ(bytes[entry + 1], 0x20);
  EXPECT_EQ(loadU64(&bytes[entry + 2]), 5u);
  EXPECT_EQ(loadU64(&bytes[entry + 10]), 0x0102030405060708u);
  EXPECT_EQ(loadU16(&bytes[entry + 34]), 3u);
  EXPECT_EQ(loadU16(&bytes[entry + 36]), 0u);
  EXPECT_EQ(loadU16(&bytes[entry + 46]), 0xFF05);
  EXPECT_EQ(bytes[entry + 48], 0);  // nothing behind the last group
  EXPECT_EQ(textAt(bytes, 1040 + 16384, 5), "hello");
}

// The key block is checked with AES-CFB set up here (key: the password zero-padded to 32 bytes,
// IV: the salt, 4096-byte chunks restarting the IV), not with the cipher context the builder uses.
Bytes cfbDecrypt(const Bytes& stored, std::uint64_t offset, std::size_t length, const std::string& password,
                 const std::array<std::uint8_t, 16>& iv) {
  std::array<std::uint8_t, 32> key{};
  std::copy_n(password.begin(), std::min<std::size_t>(password.size(), 32), key.begin());
  Bytes plain(length);
  for (std::size_t chunk = 0; chunk < length; chunk += 4096) {
    CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cfb(key.data(), key.size(), iv.data());
    cfb.ProcessData(&plain[chunk], &stored[offset + chunk], std::min<std::size_t>(4096, length - chunk));
  }
  return plain;
}

TEST(ArchiveBuilderEncoding, CfbKeyBlockAndBlocksDecryptToTheKeyRecordAndDirectory) {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf("secret");
  builder.addFile(u"a.txt", "hello");
  const Bytes bytes = builder.build();
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes[56], 0);  // a password is asked for

  const Bytes keyBlock = cfbDecrypt(bytes, 768, 256, "secret", builder.settings.keySalt);
  EXPECT_NE(sliceOf(bytes, 768, 256), keyBlock);
  EXPECT_EQ(keyBlock[3], 1);
  EXPECT_EQ(textAt(keyBlock, 10, 32), "5EBE2294ECD0E0F08EAB7690D2A6EE69");  // MD5 of "secret"
  EXPECT_EQ(loadU16(&keyBlock[206]), 0xFF02);
  EXPECT_EQ(loadU16(&keyBlock[254]), 0xFF03);

  const Bytes root = cfbDecrypt(bytes, 1040, 16384, "secret", builder.settings.dataSalt);
  EXPECT_EQ(unitsAt(root, 2, 5), u"a.txt");
  EXPECT_EQ(loadU16(&root[48 + 46]), 0xFF05);
  const Bytes content = cfbDecrypt(bytes, 1040 + 16384, 16384, "secret", builder.settings.dataSalt);
  EXPECT_EQ(textAt(content, 0, 5), "hello");
}

// Every cipher pairing: the key block opens with the key block cipher and its salt, and each
// block of a chain laid out of order decrypts with its own number (the XTS tweak).
TEST(ArchiveBuilderEncoding, EncryptedBlocksDecryptWithTheirCipherAndBlockNumber) {
  struct Case {
    std::uint8_t keyBlockCipher;
    std::uint8_t dataCipher;
  };
  for (const Case& c : {Case{1, 1}, Case{2, 2}, Case{1, 3}, Case{2, 3}}) {
    SCOPED_TRACE(::testing::Message() << "key block cipher " << int{c.keyBlockCipher} << ", data "
                                      << int{c.dataCipher});
    ArchiveBuilder builder;
    builder.settings.password = bytesOf("pässword");
    builder.settings.keyBlockCipher = c.keyBlockCipher;
    builder.settings.dataCipher = c.dataCipher;
    const Bytes content = generateContent(seededContent(7), 0, 20000);
    builder.addFile(u"f", content).blocks = BlockList{5, 3};
    const Bytes bytes = builder.build();
    ASSERT_FALSE(bytes.empty());

    CipherContext keyBlockCipher;
    keyBlockCipher.setType(c.keyBlockCipher);
    keyBlockCipher.setKey(builder.settings.password);
    keyBlockCipher.setSalt(builder.settings.keySalt.data(), 16);
    const std::optional<Bytes> keyBlock = keyBlockCipher.decrypt(&bytes[768], 256, 0);
    ASSERT_TRUE(keyBlock);
    EXPECT_EQ(textAt(*keyBlock, 10, 32), "8E1843033A0F6EE52E2F618AA8EBBEF4");
    EXPECT_EQ((*keyBlock)[3], c.dataCipher);

    CipherContext dataCipher;
    dataCipher.setType(c.dataCipher);
    dataCipher.setKey(builder.settings.password);
    dataCipher.setSalt(builder.settings.dataSalt.data(), 16);
    const std::uint64_t dataStart = 1024 + 4 * 6;
    Bytes decrypted;
    for (std::uint32_t block : {5u, 3u}) {
      const std::optional<Bytes> plain = dataCipher.decrypt(&bytes[dataStart + (block - 2) * 16384], 16384, block);
      ASSERT_TRUE(plain);
      decrypted.insert(decrypted.end(), plain->begin(), plain->begin() + 16384);
    }
    decrypted.resize(content.size());
    EXPECT_EQ(decrypted, content);
  }
}

// Block 2 is the root directory; the out-of-order chain 9 -> 3 -> 4 is reserved before the
// next file is placed in the lowest free block, 5.
TEST(ArchiveBuilderLayout, RequestedFragmentedChainIsInTheTableAndHoldsTheContent) {
  ArchiveBuilder builder;
  const Bytes content = generateContent(seededContent(1), 0, 40000);
  builder.addFile(u"scattered", content).blocks = BlockList{9, 3, 4};
  builder.addFile(u"next", "x");
  const Bytes bytes = builder.build();
  const std::optional<ArchiveLayout> layout = builder.layout();
  ASSERT_TRUE(layout);

  const std::uint64_t dataStart = 1024 + 4 * 10;
  ASSERT_EQ(bytes.size(), dataStart + 8 * 16384);
  auto tableEntry = [&](std::uint32_t block) { return loadU32(&bytes[1024 + 4 * block]); };
  EXPECT_EQ(tableEntry(2), 1u);
  EXPECT_EQ(tableEntry(9), 3u);
  EXPECT_EQ(tableEntry(3), 4u);
  EXPECT_EQ(tableEntry(4), 1u);
  EXPECT_EQ(tableEntry(5), 1u);
  for (std::uint32_t free : {6u, 7u, 8u}) EXPECT_EQ(tableEntry(free), 0u) << "block " << free;

  auto blockBytes = [&](std::uint32_t block, std::size_t length) {
    return sliceOf(bytes, dataStart + (block - 2) * 16384, length);
  };
  Bytes stored = blockBytes(9, 16384);
  const Bytes second = blockBytes(3, 16384);
  const Bytes third = blockBytes(4, 40000 - 2 * 16384);
  stored.insert(stored.end(), second.begin(), second.end());
  stored.insert(stored.end(), third.begin(), third.end());
  EXPECT_EQ(stored, content);
  EXPECT_EQ(textAt(blockBytes(5, 1), 0, 1), "x");

  const std::uint64_t scatteredEntry = dataStart + 48;
  EXPECT_EQ(loadU16(&bytes[scatteredEntry + 34]), 9u);
  EXPECT_EQ(loadU16(&bytes[scatteredEntry + 36]), 0u);
  EXPECT_EQ(layout->itemEntryFileOffset(u"scattered"), scatteredEntry);
  EXPECT_EQ(layout->find(u"next")->blocks, BlockList{5});
}

// 170 groups of two entries fill 16320 bytes; the next group's ItemEntry starts at 16368 and
// crosses from block 2 into block 7, the second block of the root directory's chain.
TEST(ArchiveBuilderLayout, DirectoryEntryStraddlesIntoTheNextBlockOfItsChain) {
  ArchiveBuilder builder;
  builder.rootDirectory.blocks = BlockList{2, 7};
  for (int i = 0; i < 170; ++i) {
    builder.addFile(
        u"filler" + std::u16string{static_cast<char16_t>(u'A' + i / 10), static_cast<char16_t>(u'0' + i % 10)}, "");
  }
  Item& straddling = builder.addFile(u"straddling", "");
  straddling.created = 0x1122334455667788;
  straddling.modified = -2;
  const Bytes bytes = builder.build();
  const std::optional<ArchiveLayout> layout = builder.layout();
  ASSERT_TRUE(layout);
  ASSERT_EQ(layout->find(u"straddling")->itemEntryOffset, 16368u);

  const std::uint64_t dataStart = 1024 + 4 * 8;
  EXPECT_EQ(loadU32(&bytes[1024 + 4 * 2]), 7u);
  EXPECT_EQ(loadU32(&bytes[1024 + 4 * 7]), 1u);
  const std::uint64_t endOfBlock2 = dataStart + 16384;
  const std::uint64_t startOfBlock7 = dataStart + 5 * 16384;
  Bytes entry = sliceOf(bytes, endOfBlock2 - 16, 16);
  const Bytes rest = sliceOf(bytes, startOfBlock7, 32);
  entry.insert(entry.end(), rest.begin(), rest.end());
  EXPECT_EQ(loadU64(&entry[10]), 0x1122334455667788u);  // bytes 10..17 cross the boundary
  EXPECT_EQ(loadI64(&entry[18]), -2);
  EXPECT_EQ(loadU16(&entry[46]), 0xFF05);
  EXPECT_EQ(unitsAt(bytes, endOfBlock2 - 64 + 2, 11), std::u16string(u"straddling") + u'\0');
  EXPECT_EQ(layout->itemEntryFileOffset(u"straddling"), endOfBlock2 - 16);
}

// Name entries hold the name back to front: the group's first entry the last units, the entry
// right before the ItemEntry the first 20. Noise may fill what follows the terminating 0 unit
// and the bytes no reader looks at, never the name or the terminator.
TEST(ArchiveBuilderLayout, LongNamesSpreadOverNameEntriesInReverseOrder) {
  const std::u16string twenty = u"abcdefghijklmnopqrst";
  const std::u16string twentyFive = twenty + u"uvwxy";
  struct Case {
    std::u16string name;
    bool noise;
    std::vector<std::u16string> entries;  // in directory order, without what follows the name
  };
  const std::vector<Case> cases = {
      {twenty, false, {twenty}},
      {twentyFive, false, {u"uvwxy", twenty}},
      {twentyFive, true, {u"uvwxy", twenty}},
      {twenty + twenty + u"z", false, {u"z", twenty, twenty}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name.size() << " units, noise " << c.noise);
    ArchiveBuilder builder;
    Item& item = builder.addFolder(c.name);
    item.noise = c.noise;
    const Bytes bytes = builder.build();
    ASSERT_FALSE(bytes.empty());
    const std::uint64_t group = 1024 + 4 * 4;
    const std::size_t count = c.entries.size();
    EXPECT_EQ(bytes[group], 0x40 + count);
    EXPECT_EQ(bytes[group + 1], 0x0F);
    for (std::size_t e = 0; e < count; ++e) {
      const std::uint64_t entry = group + 48 * e;
      const std::u16string& expected = c.entries[e];
      EXPECT_EQ(unitsAt(bytes, entry + 2, expected.size()), expected) << "entry " << e;
      EXPECT_EQ(loadU16(&bytes[entry + 46]), 0xFF04) << "entry " << e;
      if (expected.size() < 20) {
        EXPECT_EQ(loadU16(&bytes[entry + 2 + 2 * expected.size()]), 0) << "terminator, entry " << e;
        const std::u16string padding = unitsAt(bytes, entry + 4 + 2 * expected.size(), 19 - expected.size());
        if (c.noise) {
          EXPECT_EQ(padding.find(u'\0'), std::u16string::npos);
        } else {
          EXPECT_EQ(padding, std::u16string(padding.size(), u'\0'));
        }
      }
    }
    const std::uint64_t entry = group + 48 * count;
    EXPECT_EQ(bytes[entry + 1], 0x10);
    EXPECT_EQ(loadU16(&bytes[entry + 34]), 3u);
    EXPECT_EQ(loadU16(&bytes[entry + 46]), 0xFF05);
    EXPECT_EQ(bytes[entry + 40] != 0, c.noise);
  }
}

// The blob order of a detail file: all first blobs in record order, then all second blobs.
TEST(ArchiveBuilderDetailFile, RecordsAndBlobsLieWhereTheTableSays) {
  DetailFileContents contents;
  contents.records.push_back({u"one.txt", bytesOf("abc"), bytesOf("XY"), {}, {}, {}, {}});
  contents.records.push_back({u"two", bytesOf("defgh"), {}, Bytes(768, 0xEE), {}, {}, {}});
  const Bytes bytes = detailFileBytes(contents);
  ASSERT_EQ(bytes.size(), 32u + 2 * 768 + 3 + 5 + 2);
  EXPECT_EQ(loadU32(&bytes[0]), 2u);
  EXPECT_EQ(loadU16(&bytes[30]), 0xFF06);

  const std::size_t first = 32;
  EXPECT_EQ(unitsAt(bytes, first, 8), std::u16string(u"one.txt") + u'\0');
  EXPECT_EQ(loadU32(&bytes[first + 553]), 3u);
  EXPECT_EQ(loadU32(&bytes[first + 557]), 2u);
  EXPECT_EQ(loadU16(&bytes[first + 766]), 0xFF07);
  const std::size_t second = 32 + 768;
  EXPECT_EQ(unitsAt(bytes, second, 4), std::u16string(u"two") + u'\0');
  EXPECT_EQ(bytes[second + 8], 0xEE);  // the record's other bytes are kept
  EXPECT_EQ(loadU32(&bytes[second + 553]), 5u);
  EXPECT_EQ(loadU32(&bytes[second + 557]), 0u);
  EXPECT_EQ(loadU16(&bytes[second + 766]), 0xFF07);
  EXPECT_EQ(textAt(bytes, 32 + 2 * 768, 10), "abcdefghXY");

  ArchiveBuilder builder;
  builder.addDetailFile(u"\\docs\\", contents);
  const Bytes archive = builder.build();
  const std::optional<ArchiveLayout> layout = builder.layout();
  ASSERT_TRUE(layout);
  const ItemLayout* detail = layout->find(u"docs\\valdo_item_detail.deposit");
  ASSERT_NE(detail, nullptr);
  EXPECT_EQ(sliceOf(archive, layout->blockOffset(detail->blocks.front()), bytes.size()), bytes);
}

// The streamed file is the in-memory archive, also when it is cut, extended or patched.
TEST(ArchiveBuilderOutput, WrittenFileMatchesTheBuiltBytes) {
  const std::uint64_t natural = 1024 + 4 * 7 + 5 * 16384;
  struct Case {
    const char* label;
    std::optional<std::uint64_t> fileSize;
    std::vector<BytePatch> patches;
    std::uint64_t expectedSize;
  };
  const std::vector<Case> cases = {
      {"as built", std::nullopt, {}, natural},
      {"cut inside block 5", natural - 20000, {BytePatch{40, Bytes{0xAB, 0xCD}}}, natural - 20000},
      {"extended with zeros", natural + 100000, {BytePatch{natural + 50, Bytes{1, 2, 3}}}, natural + 100000},
      {"patched past the end", std::nullopt, {BytePatch{natural + 10, Bytes{4}}}, natural + 11},
  };
  const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / "archive_builder_stream.bin";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ArchiveBuilder builder;
    builder.settings.password = bytesOf("pw");
    builder.settings.dataCipher = 3;
    builder.settings.fileSize = c.fileSize;
    builder.settings.patches = c.patches;
    builder.addGeneratedFile(u"big", 3 * 16384 + 100, seededContent(42));
    const Bytes built = builder.build();
    ASSERT_TRUE(builder.writeTo(path));
    const Bytes written = readFile(path);
    EXPECT_EQ(built.size(), c.expectedSize);
    EXPECT_EQ(builder.layout()->fileSize, c.expectedSize);
    EXPECT_TRUE(written == built);
    for (const BytePatch& patch : c.patches) EXPECT_EQ(sliceOf(built, patch.offset, patch.bytes.size()), patch.bytes);
  }
  std::filesystem::remove(path);
}

TEST(ArchiveBuilderErrors, DescriptionsThatCannotBeLaidOutFailTheTest) {
  struct Case {
    const char* reason;
    std::function<void(ArchiveBuilder&)> describe;
  };
  const std::vector<Case> cases = {
      {"is given to two chains",
       [](ArchiveBuilder& b) {
         b.addFile(u"a", "1").blocks = BlockList{4};
         b.addFile(u"b", "2").blocks = BlockList{4};
       }},
      {"too short for its data", [](ArchiveBuilder& b) { b.addFile(u"a", Bytes(16385)).blocks = BlockList{3}; }},
      {"block numbers start at 2", [](ArchiveBuilder& b) { b.addFile(u"a", "1").blocks = BlockList{1}; }},
      {"outside the table", [](ArchiveBuilder& b) { b.settings.chainOverrides[4] = 2; }},
      {"no directory chain",
       [](ArchiveBuilder& b) {
         b.addFolder(u"d").directory.allocate = false;
         b.addFile(u"d\\a", "1");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    ArchiveBuilder builder;
    c.describe(builder);
    Bytes bytes{1};
    EXPECT_NONFATAL_FAILURE(bytes = builder.build(), c.reason);
    EXPECT_TRUE(bytes.empty());
  }
}

}  // namespace
}  // namespace sorvel::testing
