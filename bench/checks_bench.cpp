// The service client's hot checks: base64 of a 12 MiB screenshot both ways, beside
// OpenSSL's block coder on the same data, and the text and object checks at their limits.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include "service/screenshot.h"
#include "service/validation.h"

namespace vardeko::bench {
namespace {

constexpr std::size_t kImageBytes = 12 * 1024 * 1024;

const std::string& Image() {
  static const std::string image = [] {
    std::string bytes(kImageBytes, '\0');
    std::mt19937_64 random(7);
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
      const std::uint64_t word = random();
      std::memcpy(&bytes[i], &word, 8);
    }
    return bytes;
  }();
  return image;
}

void BM_Base64Decode_Vardeko(benchmark::State& state) {
  const nlohmann::json text = EncodeBase64(Image());
  for (auto _ : state) {
    std::string bytes = DecodeBase64(text);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_Base64Decode_Vardeko)->Unit(benchmark::kMillisecond);

void BM_Base64Decode_OpenSsl(benchmark::State& state) {
  const std::string text = EncodeBase64(Image());
  for (auto _ : state) {
    std::string bytes(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) state.SkipWithError("OpenSSL refused the text");
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_Base64Decode_OpenSsl)->Unit(benchmark::kMillisecond);

void BM_Base64Encode_Vardeko(benchmark::State& state) {
  for (auto _ : state) {
    std::string text = EncodeBase64(Image());
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_Base64Encode_Vardeko)->Unit(benchmark::kMillisecond);

void BM_Base64Encode_OpenSsl(benchmark::State& state) {
  for (auto _ : state) {
    std::string text((kImageBytes + 2) / 3 * 4 + 1, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                    reinterpret_cast<const unsigned char*>(Image().data()),
                    static_cast<int>(kImageBytes));
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_Base64Encode_OpenSsl)->Unit(benchmark::kMillisecond);

void BM_TextCheck_4000Characters(benchmark::State& state) {
  std::string notes;
  for (int i = 0; i < 4000; ++i) notes += i % 3 == 0 ? "记" : "a";
  const nlohmann::json value = notes;
  for (auto _ : state) benchmark::DoNotOptimize(CheckText(value, 4000));
}
BENCHMARK(BM_TextCheck_4000Characters);

void BM_ObjectCheck_128KiB(benchmark::State& state) {
  nlohmann::json record = nlohmann::json::object();
  for (int i = 0; i < 32; ++i) record["note_" + std::to_string(i)] = std::string(4000, 'x');
  const std::size_t size = record.dump().size();
  if (size > 131072) throw std::logic_error("record over the limit");
  for (auto _ : state) CheckObject(record);
  state.counters["record_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_ObjectCheck_128KiB);

}  // namespace
}  // namespace vardeko::bench

BENCHMARK_MAIN();
