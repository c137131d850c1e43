// Decrypting one 16 KiB storage block with each data cipher, keyed once as during extraction.
#include <benchmark/benchmark.h>

#include "archive/Extent.h"
#include "crypto/CipherContext.h"
#include "support/ContentGenerator.h"

namespace sorvel {
namespace {

void decryptBlock(benchmark::State& state, CipherType type) {
  CipherContext context;
  context.setType(static_cast<std::int32_t>(type));
  context.setKey(testing::bytesOf("bench-password"));
  const Bytes salt = testing::generateContent(testing::seededContent(1), 0, 16);
  context.setSalt(salt.data(), salt.size());
  const Bytes stored = testing::generateContent(testing::seededContent(2), 0, kBlockSize);
  Bytes plain(kBlockSize);
  std::uint32_t block = 2;
  for (auto _ : state) {
    if (!context.decryptInto(stored.data(), plain.data(), plain.size(), block++)) {
      state.SkipWithError("decryption failed");
      break;
    }
    benchmark::DoNotOptimize(plain.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockSize));
}

BENCHMARK_CAPTURE(decryptBlock, AesXts, CipherType::AesXts);
BENCHMARK_CAPTURE(decryptBlock, AesCfb, CipherType::AesCfb);
BENCHMARK_CAPTURE(decryptBlock, Blowfish, CipherType::Blowfish);

}  // namespace
}  // namespace sorvel
