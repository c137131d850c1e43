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

int headerVerdict(const ArchiveHeader& header) {
  if (!header.magicMatches()) return ExitCode::FormatError;
  if (header.authType != kKnownAuthType && header.cipherType != kKnownVersionCipher) return ExitCode::UnknownVersion;
  if (header.authType >= kFirstUnsupportedAuthType && header.authType <= kLastUnsupportedAuthType) {
    return ExitCode::UnsupportedAuth;
  }
  // A key block cipher that does not exist can never be unlocked: say so before asking.
  if (!isKnownCipher(header.cipherType)) return ExitCode::UnknownVersion;
  return 0;
}

std::string_view headerVerdictLine(int verdict) {
  switch (verdict) {
    case ExitCode::FormatError:
      return Message::FormatError;
    case ExitCode::UnknownVersion:
      return Message::UnknownVersion;
    case ExitCode::UnsupportedAuth:
      return Message::UnsupportedAuth;
    default:
      return {};
  }
}

int judgeHeader(const ArchiveHeader& header, Console& console) {
  const int verdict = headerVerdict(header);
  if (verdict != 0) console.line(headerVerdictLine(verdict));
  return verdict;
}

}  // namespace sorvel
