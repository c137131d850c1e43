#include "platform/Nfkc.h"

#include <windows.h>

#include <crypto++/misc.h>

#include <climits>

namespace sorvel {

// NormalizeString is part of the system: it is always there, and refuses only text that is not
// valid UTF-16.
std::optional<std::u16string> toNfkc(std::u16string_view text, std::string& /*problem*/) {
  if (text.empty()) return std::u16string();
  if (text.size() > static_cast<std::size_t>(INT_MAX / 4)) return std::nullopt;
  const auto* source = reinterpret_cast<const wchar_t*>(text.data());
  const int sourceLength = static_cast<int>(text.size());
  // The first call estimates; a guess too small is answered with ERROR_INSUFFICIENT_BUFFER and
  // the size wanted next.
  int estimate = NormalizeString(NormalizationKC, source, sourceLength, nullptr, 0);
  for (int attempt = 0; attempt < 10 && estimate > 0; ++attempt) {
    std::u16string result(static_cast<std::size_t>(estimate), u'\0');
    const int length =
        NormalizeString(NormalizationKC, source, sourceLength, reinterpret_cast<wchar_t*>(result.data()), estimate);
    if (length > 0) {
      // The text is a password: what lies beyond the result is wiped before it is cut off.
      CryptoPP::SecureWipeArray(result.data() + length, result.size() - static_cast<std::size_t>(length));
      result.resize(static_cast<std::size_t>(length));
      return result;
    }
    CryptoPP::SecureWipeArray(result.data(), result.size());
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    estimate = -length;
  }
  return std::nullopt;
}

}  // namespace sorvel
