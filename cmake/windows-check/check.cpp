// Proves the Windows toolchain: links the MinGW build of Crypto++ statically, runs work on
// std::thread with results kept under a std::mutex, and prints known answers for the test to
// compare (MD5 and SHA-256 of "abc", AES-128 and AES-256 on the standard's example block).
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <crypto++/aes.h>
#include <crypto++/hex.h>
#include <crypto++/md5.h>
#include <crypto++/sha.h>

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<CryptoPP::byte>;

std::string hex(const Bytes& bytes) {
  std::string out;
  CryptoPP::HexEncoder encoder(nullptr, false);
  encoder.Attach(new CryptoPP::StringSink(out));
  encoder.Put(bytes.data(), bytes.size());
  encoder.MessageEnd();
  return out;
}

Bytes counting(std::size_t count, unsigned step) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<CryptoPP::byte>(i * step);
  return bytes;
}

template <class Hash>
std::string digest(const std::string& text) {
  Hash hash;
  Bytes out(Hash::DIGESTSIZE);
  hash.CalculateDigest(out.data(), reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
  return hex(out);
}

// Key 00 01 02 ..., block 00 11 22 ... ff.
std::string aes(std::size_t keyLength) {
  const Bytes key = counting(keyLength, 1);
  const Bytes block = counting(CryptoPP::AES::BLOCKSIZE, 0x11);
  CryptoPP::AES::Encryption cipher(key.data(), key.size());
  Bytes out(CryptoPP::AES::BLOCKSIZE);
  cipher.ProcessBlock(block.data(), out.data());
  return hex(out);
}

}  // namespace

int main() {
  const std::map<std::string, std::function<std::string()>> jobs{
      {"md5 abc", [] { return digest<CryptoPP::Weak::MD5>("abc"); }},
      {"sha256 abc", [] { return digest<CryptoPP::SHA256>("abc"); }},
      {"aes128", [] { return aes(16); }},
      {"aes256", [] { return aes(32); }},
  };
  std::mutex lock;
  std::map<std::string, std::string> results;
  std::set<std::thread::id> workers;
  std::vector<std::thread> threads;
  for (const auto& [name, job] : jobs) {
    threads.emplace_back([&, &name = name, &job = job] {
      std::string result = job();
      const std::lock_guard<std::mutex> guard(lock);
      results[name] = std::move(result);
      workers.insert(std::this_thread::get_id());
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& [name, result] : results) std::printf("%s %s\n", name.c_str(), result.c_str());
  // Each job ran on a thread of its own, none of them the main one.
  workers.erase(std::this_thread::get_id());
  std::printf("threads %zu\n", workers.size());
  return 0;
}
