#pragma once
// Unicode Normalization Form KC, as the password is normalised before it becomes key material.
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

// The NFKC form of `text`; nothing when it cannot be normalised. When that is because the
// normaliser itself cannot be had (ICU not loaded), `problem` says why; text the normaliser
// refuses leaves it empty.
std::optional<std::u16string> toNfkc(std::u16string_view text, std::string& problem);

}  // namespace sorvel
