#include "app/HeaderCheck.h"

#include <array>
#include <cstdint>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "crypto/CipherType.h"

namespace sorvel {

ArchiveHeader preReadHeader(const ReadOnlyFile& file) {
  std::array<std::uint8_t, kArchiveHeaderSize> bytes{};
  file.readAt(0, bytes.data(), bytes.size());
  return ArchiveHeader::parse(bytes.data());
}

int judgeHeader(const ArchiveHeader& header, Console& console) {
  if (!header.magicMatches()) {
    console.line(Message::FormatError);
    return ExitCode::FormatError;
  }
  if (header.authType != kKnownAuthType && header.cipherType != kKnownVersionCipher) {
    console.line(Message::UnknownVersion);
    return ExitCode::UnknownVersion;
  }
  if (header.authType >= kFirstUnsupportedAuthType && header.authType <= kLastUnsupportedAuthType) {
    console.line(Message::UnsupportedAuth);
    return ExitCode::UnsupportedAuth;
  }
  // A key block cipher that does not exist can never be unlocked: say so before asking.
  if (!isKnownCipher(header.cipherType)) {
    console.line(Message::UnknownVersion);
    return ExitCode::UnknownVersion;
  }
  return 0;
}

}  // namespace sorvel
