#include "support/ContentGenerator.h"

namespace sorvel::testing {

namespace {

std::uint64_t mixWord(std::uint64_t seed, std::uint64_t index) {
  std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

ContentGenerator seededContent(std::uint64_t seed) {
  return [seed](std::uint64_t offset, std::uint8_t* out, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
      const std::uint64_t position = offset + done;
      const std::uint64_t word = mixWord(seed, position / 8);
      std::size_t byteInWord = static_cast<std::size_t>(position % 8);
      for (; byteInWord < 8 && done < length; ++byteInWord, ++done) {
        out[done] = static_cast<std::uint8_t>(word >> (8 * byteInWord));
      }
    }
  };
}

Bytes generateContent(const ContentGenerator& generator, std::uint64_t offset, std::size_t length) {
  Bytes out(length);
  if (length != 0) generator(offset, out.data(), length);
  return out;
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace sorvel::testing
