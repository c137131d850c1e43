#pragma once
// Checks a password against the archive's key block and keys the two cipher contexts.
#include "base/Bytes.h"
#include "crypto/CipherContext.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

// Keys `keyBlockCipher` from the header (type, salt) and the password, decrypts the key block,
// takes the data cipher's type and salt from it and compares the stored password digest.
// On a match `dataCipher` also gets the password as its key. `dataCipher`'s type and salt are set
// whenever the key block could be decrypted, also when the digest differs.
bool checkPassword(const ReadOnlyFile& archive, const Bytes& passwordBytes, CipherContext& keyBlockCipher,
                   CipherContext& dataCipher);

}  // namespace sorvel
