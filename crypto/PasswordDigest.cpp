#include "crypto/PasswordDigest.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <crypto++/filters.h>
#include <crypto++/hex.h>
#include <crypto++/md5.h>

namespace sorvel {

std::string passwordDigestHex(const Bytes& password) {
  CryptoPP::Weak::MD5 md5;
  md5.Update(password.data(), password.size());
  CryptoPP::SecByteBlock digest(CryptoPP::Weak::MD5::DIGESTSIZE);
  md5.TruncatedFinal(digest.data(), digest.size());

  std::string hex;
  CryptoPP::StringSource(digest.data(), digest.size(), true, new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex)));
  return hex;  // the SecByteBlock wipes the digest
}

}  // namespace sorvel
