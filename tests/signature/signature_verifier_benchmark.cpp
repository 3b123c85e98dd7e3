// SignatureVerifier::Update against libsodium's BLAKE2b-512 update on its own,
// both fed 64 KiB chunks as the installer download hands them over.

#include <benchmark/benchmark.h>
#include <sodium.h>

#include <cstdint>
#include <string>
#include <vector>

#include "signature/signature_verifier.h"

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

std::vector<std::uint8_t> Chunk() {
  std::vector<std::uint8_t> chunk(kChunkBytes);
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    chunk[i] = static_cast<std::uint8_t>(i * 131 + 7);
  }
  return chunk;
}

// A signature of the right shape for a generated key: enough to create a
// verifier, whose verdict does not matter here.
std::pair<std::string, std::string> SignatureAndKey() {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(publicKey, secretKey);
  const auto base64 = [](const std::string& bytes) {
    std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(),
                      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();
    return text;
  };
  const std::string keyId = "benchkey";
  const std::string key = "Ed" + keyId + std::string(reinterpret_cast<char*>(publicKey), 32);
  const std::string signatureLine = "ED" + keyId + std::string(64, '\0');
  const std::string keyFile = "untrusted comment: benchmark\n" + base64(key) + "\n";
  const std::string signatureFile = "untrusted comment: benchmark\n" + base64(signatureLine) +
                                    "\ntrusted comment: benchmark\n" +
                                    base64(std::string(64, '\0')) + "\n";
  return {base64(signatureFile), base64(keyFile)};
}

void VerifierUpdate(benchmark::State& state) {
  const auto chunk = Chunk();
  const auto [signature, key] = SignatureAndKey();
  auto verifier = kestrova::SignatureVerifier::Create(signature, key);
  if (!verifier.ok()) {
    state.SkipWithError(verifier.failure().text.c_str());
    return;
  }
  for (auto _ : state) {
    verifier.value().Update(chunk);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunkBytes);
}

void RawGenerichashUpdate(benchmark::State& state) {
  const auto chunk = Chunk();
  if (sodium_init() < 0) {
    state.SkipWithError("sodium_init failed");
    return;
  }
  crypto_generichash_state hash;
  crypto_generichash_init(&hash, nullptr, 0, crypto_generichash_BYTES_MAX);
  for (auto _ : state) {
    crypto_generichash_update(&hash, chunk.data(), chunk.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunkBytes);
}

BENCHMARK(RawGenerichashUpdate)->MinTime(2.0);
BENCHMARK(VerifierUpdate)->MinTime(2.0);
BENCHMARK(RawGenerichashUpdate)->MinTime(2.0);
BENCHMARK(VerifierUpdate)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
