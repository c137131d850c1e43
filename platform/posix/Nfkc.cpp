#include "platform/Nfkc.h"

#include <dlfcn.h>
#include <unicode/unorm2.h>
#include <unicode/uvernum.h>

#include <crypto++/misc.h>

#include <climits>
#include <string>

namespace sorvel {
namespace {

// ICU's C entry points carry its major version in their names (unorm2_normalize_72); these give
// the names and the library's file name for the version the program was built with.
#define SORVEL_TEXT_OF(x) #x
#define SORVEL_NAME_OF(x) SORVEL_TEXT_OF(x)

// ICU is loaded only when a password needs it: loading it at start-up would cost every run a few
// milliseconds, and most passwords are ASCII, which NFKC leaves as it is.
struct IcuNormalizer {
  using GetInstance = const UNormalizer2* (*)(UErrorCode*);
  using Normalize = int32_t (*)(const UNormalizer2*, const UChar*, int32_t, UChar*, int32_t, UErrorCode*);
  static constexpr const char* kLibrary = "libicuuc.so." SORVEL_NAME_OF(U_ICU_VERSION_MAJOR_NUM);
  GetInstance getNfkcInstance = nullptr;
  Normalize normalize = nullptr;
  std::string problem;  // why it cannot be used; empty when it can

  IcuNormalizer() {
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* why = ::dlerror();
      problem = std::string("ICU can not be loaded: ") + (why != nullptr ? why : kLibrary);
      return;
    }
    getNfkcInstance = reinterpret_cast<GetInstance>(::dlsym(library, SORVEL_NAME_OF(unorm2_getNFKCInstance)));
    normalize = reinterpret_cast<Normalize>(::dlsym(library, SORVEL_NAME_OF(unorm2_normalize)));
    if (getNfkcInstance == nullptr || normalize == nullptr) problem = std::string(kLibrary) + " lacks the normaliser";
  }
};

bool isAscii(std::u16string_view text) {
  for (const char16_t unit : text) {
    if (unit >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::optional<std::u16string> toNfkc(std::u16string_view text, std::string& problem) {
  if (isAscii(text)) return std::u16string(text);
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  static const IcuNormalizer icu;
  if (!icu.problem.empty()) {
    problem = icu.problem;
    return std::nullopt;
  }
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* normalizer = icu.getNfkcInstance(&status);
  if (U_FAILURE(status) || normalizer == nullptr) {
    problem = "ICU has no NFKC normaliser (error " + std::to_string(static_cast<int>(status)) + ")";
    return std::nullopt;
  }

  // The first call only measures; the second writes into our own buffer, so that no copy of the
  // password is left where it cannot be wiped.
  const auto length = static_cast<int32_t>(text.size());
  const int32_t needed = icu.normalize(normalizer, text.data(), length, nullptr, 0, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  std::optional<std::u16string> result(std::in_place, static_cast<std::size_t>(needed), u'\0');
  status = U_ZERO_ERROR;
  const int32_t written = icu.normalize(normalizer, text.data(), length, result->data(), needed, &status);
  if (U_FAILURE(status) || written != needed) {
    CryptoPP::SecureWipeArray(result->data(), result->size());
    return std::nullopt;
  }
  return result;
}

}  // namespace sorvel
