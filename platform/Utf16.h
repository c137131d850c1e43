#pragma once
// Conversions between the UTF-8 text of the host (paths, console) and the UTF-16 text of the
// archive (names, the typed password).
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

// Every ill-formed piece of the input becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);

// Nothing when the input holds an unpaired surrogate.
std::optional<std::string> toUtf8Strict(std::u16string_view utf16);

// An unpaired surrogate becomes U+FFFD; for display and host paths, where something must come out.
std::string toUtf8Lossy(std::u16string_view utf16);

}  // namespace sorvel
