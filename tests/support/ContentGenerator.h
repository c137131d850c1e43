#pragma once
// File content that is produced on demand instead of held in memory, so that a test archive with a
// very large file can be written block by block. A generator must give the same bytes for the same
// offset every time it is asked, so that a test can regenerate any slice to compare against.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "base/Bytes.h"

namespace sorvel::testing {

// Fills out[0, length) with the content bytes that start at `offset`.
using ContentGenerator = std::function<void(std::uint64_t offset, std::uint8_t* out, std::size_t length)>;

// Pseudo-random bytes that depend only on the seed and the offset.
ContentGenerator seededContent(std::uint64_t seed);

// The bytes [offset, offset + length) of a generator's content.
Bytes generateContent(const ContentGenerator& generator, std::uint64_t offset, std::size_t length);

// The bytes of a text, without a terminator.
Bytes bytesOf(std::string_view text);

}  // namespace sorvel::testing
