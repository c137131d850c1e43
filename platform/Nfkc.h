#pragma once
// Unicode Normalization Form KC, as the password is normalised before it becomes key material.
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

// The NFKC form of `text`; nothing when the normaliser is unavailable or fails.
std::optional<std::u16string> toNfkc(std::u16string_view text);

}  // namespace sorvel
