#include "aesxts/libaesxts/cryptaesxts.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <crypto++/aes.h>
#include <crypto++/xts.h>

// Unlike assert(), stays in release builds: reading past a short key or buffer is never an option.
#define SORVEL_XTS_REQUIRE(condition)                         \
  do {                                                        \
    if (!(condition)) stopOnViolatedPrecondition(#condition); \
  } while (false)

namespace sorvel {

namespace {

constexpr int nKeyLength = static_cast<int>(kXtsKeyLength);

[[noreturn]] void stopOnViolatedPrecondition(const char* condition) {
  std::fprintf(stderr, "Assertion failed: %s, file %s\n", condition, __FILE__);
  std::fflush(stderr);
  std::abort();
}

// One data unit: whole blocks, then, when the length is not a multiple of 16, the last whole
// block and the partial one by ciphertext stealing. The mode reads out of bounds on a unit shorter
// than one block, so that is refused up front.
void processDataUnit(CryptoPP::XTS_ModeBase& mode, std::uint8_t* out, const std::uint8_t* in, std::size_t length) {
  constexpr std::size_t kBlock = CryptoPP::AES::BLOCKSIZE;
  if (length < kBlock) throw CryptoPP::InvalidArgument("XTS: data unit shorter than one block");
  const std::size_t partial = length % kBlock;
  if (partial == 0) {
    mode.ProcessData(out, in, length);
    return;
  }
  const std::size_t head = length - kBlock - partial;
  if (head != 0) mode.ProcessData(out, in, head);
  mode.ProcessLastBlock(out + head, kBlock + partial, in + head, kBlock + partial);
}

}  // namespace

Bytes xtsEncrypt(const std::uint8_t* PlainData, std::size_t nDataSize, std::span<const std::uint8_t> keystr,
                 std::span<const std::uint8_t> ivstr) {
  if (PlainData == nullptr || nDataSize == 0) throw std::invalid_argument("PlainData null or empty");
  if (keystr.size() != kXtsKeyLength) throw std::invalid_argument("keystr length mismatch");
  if (ivstr.size() != CryptoPP::AES::BLOCKSIZE) throw std::invalid_argument("ivstr must be 16 bytes (XTS tweak)");

  Bytes out(nDataSize, 0);
  CryptoPP::XTS_Mode<CryptoPP::AES>::Encryption mode;
  mode.SetKeyWithIV(keystr.data(), keystr.size(), ivstr.data(), ivstr.size());
  processDataUnit(mode, out.data(), PlainData, nDataSize);
  return out;
}

void xtsDecryptInto(const std::uint8_t* CipherData, std::size_t nDataSize, std::span<const std::uint8_t> keystr,
                    std::span<const std::uint8_t> tweakstr, std::uint8_t* PlainOut) {
  SORVEL_XTS_REQUIRE(nullptr != CipherData && 0 != nDataSize);
  SORVEL_XTS_REQUIRE(keystr.size() == static_cast<size_t>(nKeyLength));
  SORVEL_XTS_REQUIRE(tweakstr.size() == CryptoPP::AES::BLOCKSIZE);

  CryptoPP::XTS_Mode<CryptoPP::AES>::Decryption mode;
  mode.SetKeyWithIV(keystr.data(), keystr.size(), tweakstr.data(), tweakstr.size());
  processDataUnit(mode, PlainOut, CipherData, nDataSize);
}

Bytes xtsDecrypt(const std::uint8_t* CipherData, std::size_t nDataSize, std::span<const std::uint8_t> keystr,
                 std::span<const std::uint8_t> tweakstr) {
  SORVEL_XTS_REQUIRE(nullptr != CipherData && 0 != nDataSize);
  Bytes out(nDataSize, 0);
  try {
    xtsDecryptInto(CipherData, nDataSize, keystr, tweakstr, out.data());
  } catch (...) {
    secureWipe(out);
    throw;
  }
  return out;
}

}  // namespace sorvel
