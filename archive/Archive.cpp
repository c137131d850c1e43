#include "archive/Archive.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "archive/ArchiveHeader.h"
#include "archive/ContentReader.h"
#include "base/ByteOrder.h"
#include "crypto/KeyBlock.h"
#include "crypto/PasswordCheck.h"
#include "platform/FreedMemory.h"

namespace sorvel {

Archive::Archive() = default;

Archive::~Archive() = default;

bool Archive::checkPassword(const std::string& archivePath, const Bytes& passwordBytes) {
  // The check reads through the container's file, the one open() goes on with.
  return container_.archiveFile().openFile(archivePath) && checkPassword(passwordBytes);
}

bool Archive::refuseOpen(std::uint32_t error) {
  container_.archiveFile().closeFile();
  if (error != kErrorSuccess) lastError_ = error;
  return false;
}

bool Archive::attach(ReadOnlyFile file) { return container_.archiveFile().adoptFile(std::move(file)); }

bool Archive::checkPassword(const Bytes& passwordBytes) {
  // Reads are left zero where the file is shorter; one that finds nothing at all fails the check.
  std::array<std::uint8_t, kArchiveHeaderSize> bytes{};
  if (container_.archiveFile().file().readAt(0, bytes.data(), bytes.size()) == 0) return false;
  const ArchiveHeader header = ArchiveHeader::parse(bytes.data());
  BlockDecryptor& ciphers = container_.decryptor();
  return sorvel::checkPassword(container_.archiveFile().file(), KeyBlockSealing{header.cipherType, header.keySalt},
                               passwordBytes, ciphers.keyBlockCipher(), ciphers.dataCipher());
}

bool Archive::open(const std::string& archivePath) {
  lastError_ = kErrorSuccess;
  // Read-only: nothing is ever written to the archive, and a read-only archive must extract.
  if (!container_.archiveFile().openFile(archivePath)) return false;
  return open();
}

bool Archive::open() {
  lastError_ = kErrorSuccess;
  if (!container_.archiveFile().isOpen()) return false;

  MetadataCopies& copies = container_.copies();
  copies.resetCopies();
  std::array<std::uint8_t, kArchiveHeaderSize> headerBytes{};
  copies.readHeader(headerBytes.data());
  const ArchiveHeader header = ArchiveHeader::parse(headerBytes.data());
  if (header.headerSignature != kHeaderSignature) return refuseOpen(kErrorSuccess);

  KeyRecord record;
  CipherContext& keyBlockCipher = container_.decryptor().keyBlockCipher();
  if (copies.loadKeyBlock(keyBlockCipher)) record = KeyRecord::parse(copies.keyBlock().data());
  // The key block is read: its cipher is spent, and its key schedule (for AES-CFB the password
  // itself) goes.
  keyBlockCipher.setKey({});
  const std::uint16_t endSignature = loadU16(copies.keyBlock().data() + kKeyBlockEndSignatureOffset);
  if (record.keyRecordSignature != kKeyRecordSignature || endSignature != kKeyBlockEndSignature) {
    return refuseOpen(kErrorSuccess);
  }

  // A table that the file cannot hold is refused rather than allocated.
  const std::uint64_t count = record.chainEntryCount;
  const std::uint64_t size = container_.archiveFile().fileSize();
  if (size < kChainTableOffset || 4 * count > size - kChainTableOffset) return refuseOpen(kErrorHeaderRefused);
  // With a password every data block goes through the data cipher: one that does not exist
  // would leave every block unreadable.
  const CipherContext& dataCipher = container_.decryptor().dataCipher();
  if (dataCipher.hasKey() && !isKnownCipher(dataCipher.type())) {
    return refuseOpen(kErrorHeaderRefused);
  }

  ChainTable& chainTable = container_.chainTable();
  chainTable.resizeChainTable(record.chainEntryCount);
  chainTable.loadChainTable();

  const bool headerValid = header.magicMatches() && header.lastBlock >= kFirstDataBlock &&
                           header.paramWord <= kMaxParamWord &&
                           chainTable.chainEntry(kRootDirectoryBlock) != kFreeBlock;
  if (!headerValid) return refuseOpen(kErrorHeaderRefused);

  TreeBuilder(chains_, lastError_).build(tree_);
  // What building the tree freed goes back to the host, whatever the threads that come next allocate.
  returnFreedMemory();
  return true;
}

std::uint64_t Archive::readContent(std::u16string_view path, Bytes& out) {
  ItemRecord record;
  if (!findItem(path, record)) return 0;
  out.clear();
  if (record.size() == 0) return 0;
  out.assign(record.size(), 0);
  ContentReader reader(container_, record.firstBlock(), record.size());
  std::uint64_t done = 0;
  while (done < out.size()) {
    const std::size_t n = reader.read(out.data() + done, out.size() - done);
    if (n == 0) break;
    done += n;
  }
  if (done == 0) out.clear();
  return done;
}

}  // namespace sorvel
