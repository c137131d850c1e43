#include "platform/Nfkc.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <crypto++/misc.h>

#include <climits>

#include "base/Bytes.h"

namespace sorvel {

std::optional<std::u16string> toNfkc(std::u16string_view text) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* normalizer = icu::Normalizer2::getNFKCInstance(status);
  if (U_FAILURE(status) || normalizer == nullptr) return std::nullopt;

  // Read-only alias: ICU neither copies nor changes the input.
  const icu::UnicodeString source(false, text.data(), static_cast<int32_t>(text.size()));
  icu::UnicodeString normalised;
  normalizer->normalize(source, normalised, status);
  if (U_FAILURE(status) || normalised.isBogus()) return std::nullopt;
  std::optional<std::u16string> result(std::in_place, normalised.getBuffer(), static_cast<std::size_t>(normalised.length()));

  // The text is a password: leave no copy of it in ICU's buffer.
  char16_t* buffer = normalised.getBuffer(-1);
  if (buffer != nullptr) {
    CryptoPP::SecureWipeArray(buffer, static_cast<std::size_t>(normalised.getCapacity()));
    normalised.releaseBuffer(0);
  }
  return result;
}

}  // namespace sorvel
