#include "crypto/PasswordCheck.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "crypto/KeyBlock.h"
#include "crypto/PasswordDigest.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

bool checkPassword(const ReadOnlyFile& archive, const KeyBlockSealing& sealing, const Bytes& passwordBytes,
                   CipherContext& keyBlockCipher, CipherContext& dataCipher) {
  keyBlockCipher.setType(sealing.cipherType);
  keyBlockCipher.setKey(passwordBytes);
  keyBlockCipher.setSalt(sealing.salt.data(), sealing.salt.size());
  keyBlockCipher.forgetKey();  // it keeps what its cipher made of the password, not the password

  // Reads are left zero where the file is shorter; one that finds nothing at all fails the check.

  Bytes stored(kKeyBlockSize, 0);
  if (archive.readAt(kKeyBlockOffset, stored.data(), stored.size()) == 0) return false;

  auto plain = keyBlockCipher.decrypt(stored.data(), stored.size(), 0);
  secureWipe(stored);
  if (!plain || plain->size() < kKeyRecordSize) {
    if (plain) secureWipe(*plain);
    return false;
  }
  KeyRecord record = KeyRecord::parse(plain->data());
  secureWipe(*plain);

  dataCipher.setType(record.dataCipherType);
  dataCipher.setSalt(record.dataSalt.data(), record.dataSalt.size());

  std::string digest = passwordDigestHex(passwordBytes);
  const bool matches =
      digest.size() == kPasswordDigestSize && std::equal(record.passwordDigest.begin(), record.passwordDigest.end(),
                                                         reinterpret_cast<const std::uint8_t*>(digest.data()));
  secureWipe(digest.data(), digest.size());
  secureWipe(&record, sizeof record);

  if (matches) {
    dataCipher.setKey(passwordBytes);
    dataCipher.forgetKey();
  }
  return matches;
}

}  // namespace sorvel
