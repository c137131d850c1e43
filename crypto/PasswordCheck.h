#pragma once
// Checks a password against the archive's key block and keys the two cipher contexts.
#include <cstdint>
#include <span>

#include "base/Bytes.h"
#include "crypto/CipherContext.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

// How the header says the key block is sealed: its cipher and salt.
struct KeyBlockSealing {
  std::int32_t cipherType = 0;
  std::span<const std::uint8_t> salt;
};

// Keys `keyBlockCipher` from the header's `sealing` and the password, decrypts the key block,
// takes the data cipher's type and salt from it and compares the stored password digest.
// On a match `dataCipher` also gets the password as its key. Both contexts have forgotten the
// password by the end (CipherContext::forgetKey); they keep its key schedules. `dataCipher`'s type and salt are set
// whenever the key block could be decrypted, also when the digest differs.
bool checkPassword(const ReadOnlyFile& archive, const KeyBlockSealing& sealing, const Bytes& passwordBytes,
                   CipherContext& keyBlockCipher, CipherContext& dataCipher);

}  // namespace sorvel
