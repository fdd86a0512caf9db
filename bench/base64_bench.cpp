// Base64 encode and decode of 1 MiB and 64 MiB, Glowsnap's codec against
// OpenSSL's block coder in the same run. "Alloc" runs the public operations
// (they allocate and zero their result, as the codec's contract says);
// "Buffer" runs the buffer coders into a caller buffer, as OpenSSL does.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base64/Base64.h"

namespace {

using glowsnap::Base64;

std::vector<std::uint8_t> randomBytes(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  std::mt19937_64 rng(42);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  return data;
}

void setThroughput(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes));
}

void BM_EncodeGlowsnapAlloc(benchmark::State& state) {
  const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto encoded = Base64::encodeData(data);
    benchmark::DoNotOptimize(encoded->data());
  }
  setThroughput(state, data.size());
}

void BM_EncodeGlowsnapBuffer(benchmark::State& state) {
  const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
  std::string out(Base64::encodedLength(data.size(), true), '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(Base64::baseEncode(data.data(), data.size(), out.data(), out.size(),
                                                glowsnap::kBase64EncodeChars, true));
    benchmark::ClobberMemory();
  }
  setThroughput(state, data.size());
}

void BM_EncodeOpenSSL(benchmark::State& state) {
  const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> out(Base64::encodedLength(data.size(), true) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        EVP_EncodeBlock(out.data(), data.data(), static_cast<int>(data.size())));
    benchmark::ClobberMemory();
  }
  setThroughput(state, data.size());
}

void BM_DecodeGlowsnapAlloc(benchmark::State& state) {
  const auto text = *Base64::encodeData(randomBytes(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    auto decoded = Base64::decodeData(text);
    benchmark::DoNotOptimize(decoded->data());
  }
  setThroughput(state, text.size());
}

void BM_DecodeGlowsnapBuffer(benchmark::State& state) {
  const auto text = *Base64::encodeData(randomBytes(static_cast<std::size_t>(state.range(0))));
  std::vector<std::uint8_t> out(Base64::decodedCapacity(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Base64::baseDecode(reinterpret_cast<const char*>(text.data()),
                                                text.size(), out.data(), out.size(),
                                                glowsnap::kBase64DecodeChars.data(), true));
    benchmark::ClobberMemory();
  }
  setThroughput(state, text.size());
}

void BM_DecodeOpenSSL(benchmark::State& state) {
  const auto text = *Base64::encodeData(randomBytes(static_cast<std::size_t>(state.range(0))));
  std::vector<unsigned char> out(Base64::decodedCapacity(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        EVP_DecodeBlock(out.data(), text.data(), static_cast<int>(text.size())));
    benchmark::ClobberMemory();
  }
  setThroughput(state, text.size());
}

constexpr std::int64_t kMiB = 1 << 20;

}  // namespace

BENCHMARK(BM_EncodeGlowsnapAlloc)->Arg(kMiB)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGlowsnapBuffer)->Arg(kMiB)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOpenSSL)->Arg(kMiB)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGlowsnapAlloc)->Arg(kMiB)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGlowsnapBuffer)->Arg(kMiB)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOpenSSL)->Arg(kMiB)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
