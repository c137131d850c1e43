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

HeaderVerdict judgeHeader(const ArchiveHeader& header) {
  if (!header.magicMatches()) return {ExitCode::FormatError, Message::FormatError};
  if (header.authType != kKnownAuthType && header.cipherType != kKnownVersionCipher) {
    return {ExitCode::UnknownVersion, Message::UnknownVersion};
  }
  if (header.authType >= kFirstUnsupportedAuthType && header.authType <= kLastUnsupportedAuthType) {
    return {ExitCode::UnsupportedAuth, Message::UnsupportedAuth};
  }
  // A key block cipher that does not exist can never be unlocked: say so before asking.
  if (!isKnownCipher(header.cipherType)) return {ExitCode::UnknownVersion, Message::UnknownVersion};
  return {};
}

int judgeHeader(const ArchiveHeader& header, Console& console) {
  const HeaderVerdict verdict = judgeHeader(header);
  if (verdict.code != 0) console.line(verdict.message);
  return verdict.code;
}

}  // namespace sorvel
