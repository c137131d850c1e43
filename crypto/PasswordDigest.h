#pragma once
// The password digest stored in the key record: MD5 of the password bytes as 32 upper-case hex
// characters.
#include <string>

#include "base/Bytes.h"

namespace sorvel {

std::string passwordDigestHex(const Bytes& password);

}  // namespace sorvel
