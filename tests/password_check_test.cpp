#include "crypto/PasswordCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "archive/ArchiveHeader.h"
#include "crypto/KeyBlock.h"
#include "crypto/PasswordDigest.h"
#include "platform/ReadOnlyFile.h"
#include "support/HexBytes.h"

namespace sorvel {
namespace {

using testing::hexBytes;
using testing::textBytes;

// The check on the file at `path`, opened for it alone, as the archive makes it: sealed as its
// header says.
bool checkPasswordAt(const std::string& path, const Bytes& typed, CipherContext& keyBlockCipher,
                     CipherContext& dataCipher) {
  ReadOnlyFile archive;
  std::array<std::uint8_t, kArchiveHeaderSize> bytes{};
  if (!archive.open(path) || archive.readAt(0, bytes.data(), bytes.size()) == 0) return false;
  const ArchiveHeader header = ArchiveHeader::parse(bytes.data());
  return checkPassword(archive, KeyBlockSealing{header.cipherType, header.keySalt}, typed, keyBlockCipher, dataCipher);
}

// True when `context` decrypts as a context keyed with `password` and its own type and salt does
// (unkeyed for an empty password): the contexts keep a key schedule, not the password.
bool keyedWith(const CipherContext& context, const Bytes& password) {
  if (context.hasKey() != !password.empty()) return false;
  CipherContext expected;
  expected.setType(context.type());
  expected.setKey(password);
  expected.setSalt(context.salt().data(), context.salt().size());
  Bytes sample(4096);
  for (std::size_t i = 0; i < sample.size(); ++i) sample[i] = static_cast<std::uint8_t>(i * 13 + 1);
  return context.decrypt(sample.data(), sample.size(), 7) == expected.decrypt(sample.data(), sample.size(), 7);
}

constexpr std::int32_t kNone = static_cast<std::int32_t>(CipherType::None);
constexpr std::int32_t kAesCfb = static_cast<std::int32_t>(CipherType::AesCfb);
constexpr std::int32_t kBlowfish = static_cast<std::int32_t>(CipherType::Blowfish);
constexpr std::int32_t kAesXts = static_cast<std::int32_t>(CipherType::AesXts);

constexpr std::size_t kWholeFile = 1024 + 64;  // header, key block and a little of the chain table

const Bytes kKeySalt = hexBytes("101112131415161718191A1B1C1D1E1F");
const Bytes kDataSalt = hexBytes("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
const Bytes kLongPassword = textBytes("correct horse battery staple!0123456789x");

// What the test writes: a header naming the key block cipher and its salt, then the key block
// encrypted with `password`, holding the password's digest (or `digest`) and the data cipher's
// type and salt.
struct StoredArchive {
  std::int32_t headerCipher = kNone;
  Bytes password;
  std::uint8_t dataCipherType = 1;
  std::size_t fileLength = kWholeFile;
  std::optional<std::string> digest;
};

Bytes archiveBytes(const StoredArchive& archive) {
  Bytes file(kWholeFile, 0);
  std::copy(kKeySalt.begin(), kKeySalt.end(), file.begin() + 38);
  file[55] = static_cast<std::uint8_t>(archive.headerCipher);

  const std::string digest = archive.digest.value_or(passwordDigestHex(archive.password));
  KeyBlock block;
  block.record.dataCipherType = archive.dataCipherType;
  block.record.chainEntryCount = 16;
  std::copy_n(digest.begin(), kPasswordDigestSize, block.record.passwordDigest.begin());
  std::copy(kDataSalt.begin(), kDataSalt.end(), block.record.dataSalt.begin());
  block.record.keyRecordSignature = kKeyRecordSignature;
  block.keyBlockEndSignature = kKeyBlockEndSignature;
  Bytes stored = block.serialise();

  CipherContext writer;
  writer.setType(archive.headerCipher);
  writer.setKey(archive.password);
  writer.setSalt(kKeySalt.data(), kKeySalt.size());
  // AesXts cannot encrypt block 0; such an archive keeps its key block plain here, which no
  // non-empty password opens anyway.
  if (auto encrypted = writer.encrypt(stored.data(), stored.size(), 0)) {
    stored.assign(encrypted->begin(), encrypted->begin() + kKeyBlockSize);
  }
  std::copy(stored.begin(), stored.end(), file.begin() + kKeyBlockOffset);

  file.resize(archive.fileLength);
  return file;
}

StoredArchive stored(std::int32_t headerCipher, const Bytes& password, std::uint8_t dataCipherType = 1) {
  StoredArchive archive;
  archive.headerCipher = headerCipher;
  archive.password = password;
  archive.dataCipherType = dataCipherType;
  return archive;
}

StoredArchive withDigest(StoredArchive archive, const std::string& digest) {
  archive.digest = digest;
  return archive;
}

StoredArchive cutAt(StoredArchive archive, std::size_t fileLength) {
  archive.fileLength = fileLength;
  return archive;
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

Bytes dataSaltWithZerosFrom(std::size_t present) {
  Bytes salt = kDataSalt;
  std::fill(salt.begin() + static_cast<std::ptrdiff_t>(present), salt.end(), 0);
  return salt;
}

class PasswordCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "password-check-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string writeFile(const std::string& name, const Bytes& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  std::filesystem::path dir_;
};

// How dataCipher's type and salt must look after the check.
enum class DataCipherState {
  Untouched,  // the key block was not decrypted
  Stored,     // decrypted to the stored bytes: type and salt as written
  Noise,      // decrypted with the wrong key: set to something unpredictable
};

struct Case {
  const char* name;
  StoredArchive archive;
  Bytes typed;
  bool matches;
  DataCipherState dataState;
  Bytes expectedSalt = kDataSalt;
};

TEST_F(PasswordCheckTest, ChecksTheDigestAndKeysBothContexts) {
  const Bytes blowfishPassword = textBytes("password1234");
  const Case cases[] = {
      {"empty password, plain key block",
       withDigest(stored(kAesCfb, {}), "D41D8CD98F00B204E9800998ECF8427E"),
       {},
       true,
       DataCipherState::Stored},
      {"empty-password archive, password typed", stored(kAesCfb, {}), textBytes("x"), false, DataCipherState::Noise},
      {"header cipher None, password typed", stored(kNone, {}), textBytes("x"), false, DataCipherState::Untouched},
      {"lower-case digest never matches",
       withDigest(stored(kAesCfb, {}), lowerCase(passwordDigestHex({}))),
       {},
       false,
       DataCipherState::Stored},
      {"AesCfb, right password", stored(kAesCfb, textBytes("pw-cfb"), 3), textBytes("pw-cfb"), true,
       DataCipherState::Stored},
      {"AesCfb, 40-byte password", stored(kAesCfb, kLongPassword, 3), kLongPassword, true, DataCipherState::Stored},
      {"AesCfb, its 32-byte prefix decrypts alike", stored(kAesCfb, kLongPassword, 3),
       Bytes(kLongPassword.begin(), kLongPassword.begin() + 32), false, DataCipherState::Stored},
      {"AesCfb, wrong password", stored(kAesCfb, textBytes("pw-cfb"), 3), textBytes("pw-cfc"), false,
       DataCipherState::Noise},
      {"Blowfish, right password", stored(kBlowfish, blowfishPassword, 2), blowfishPassword, true,
       DataCipherState::Stored},
      {"Blowfish, 8-byte prefix decrypts alike", stored(kBlowfish, blowfishPassword, 2), textBytes("password"), false,
       DataCipherState::Stored},
      {"Blowfish, wrong password", stored(kBlowfish, blowfishPassword, 2), textBytes("Password1234"), false,
       DataCipherState::Noise},
      {"AesXts key block, password typed", stored(kAesXts, textBytes("pw"), 3), textBytes("pw"), false,
       DataCipherState::Untouched},
      {"file ends inside the key block, Blowfish", cutAt(stored(kBlowfish, blowfishPassword, 2), 768 + 64),
       blowfishPassword, true, DataCipherState::Stored},
      {"file ends inside the data salt, plain",
       cutAt(stored(kAesCfb, {}), 768 + 50),
       {},
       true,
       DataCipherState::Stored,
       dataSaltWithZerosFrom(8)},
      {"file of exactly 768 bytes", cutAt(stored(kAesCfb, {}), 768), {}, false, DataCipherState::Untouched},
  };

  int fileNumber = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeFile("archive" + std::to_string(fileNumber++), archiveBytes(c.archive));
    CipherContext keyBlockCipher;
    CipherContext dataCipher;

    EXPECT_EQ(checkPasswordAt(path, c.typed, keyBlockCipher, dataCipher), c.matches);

    EXPECT_EQ(keyBlockCipher.type(), c.archive.headerCipher);
    EXPECT_TRUE(keyedWith(keyBlockCipher, c.typed));
    EXPECT_EQ(keyBlockCipher.salt(), kKeySalt);

    switch (c.dataState) {
      case DataCipherState::Untouched:
        EXPECT_EQ(dataCipher.type(), 0);
        EXPECT_TRUE(dataCipher.salt().empty());
        break;
      case DataCipherState::Stored:
        EXPECT_EQ(dataCipher.type(), c.archive.dataCipherType);
        EXPECT_EQ(dataCipher.salt(), c.expectedSalt);
        break;
      case DataCipherState::Noise:
        EXPECT_EQ(dataCipher.salt().size(), kDataSaltSize);
        EXPECT_NE(dataCipher.salt(), kDataSalt);
        break;
    }
    // The data cipher gets the password only on success.
    EXPECT_TRUE(keyedWith(dataCipher, c.matches ? c.typed : Bytes{}));
  }
}

TEST_F(PasswordCheckTest, UnreadableHeaderLeavesBothContextsUntouched) {
  const std::string empty = writeFile("empty", Bytes{});
  const std::string missing = (dir_ / "missing").string();
  for (const std::string& path : {empty, missing}) {
    SCOPED_TRACE(path);
    CipherContext keyBlockCipher;
    CipherContext dataCipher;
    EXPECT_FALSE(checkPasswordAt(path, textBytes("pw"), keyBlockCipher, dataCipher));
    EXPECT_FALSE(keyBlockCipher.hasKey());
    EXPECT_TRUE(keyBlockCipher.salt().empty());
    EXPECT_EQ(dataCipher.type(), 0);
  }
}

// After a successful check the key block cipher reads the key block again, as the storage layer
// does when it opens the archive.
TEST_F(PasswordCheckTest, KeyBlockCipherDecryptsTheKeyBlockAfterSuccess) {
  const StoredArchive archive = stored(kBlowfish, textBytes("password1234"), 2);
  const Bytes file = archiveBytes(archive);
  const std::string path = writeFile("archive", file);
  CipherContext keyBlockCipher;
  CipherContext dataCipher;
  ASSERT_TRUE(checkPasswordAt(path, archive.password, keyBlockCipher, dataCipher));

  const auto plain = keyBlockCipher.decrypt(file.data() + kKeyBlockOffset, kKeyBlockSize, 0);
  ASSERT_TRUE(plain);
  const KeyBlock block = KeyBlock::parse(plain->data());
  EXPECT_EQ(block.record.keyRecordSignature, kKeyRecordSignature);
  EXPECT_EQ(block.keyBlockEndSignature, kKeyBlockEndSignature);
  EXPECT_EQ(block.record.chainEntryCount, 16u);
}

}  // namespace
}  // namespace sorvel
