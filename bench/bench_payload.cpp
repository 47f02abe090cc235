// Payload serialisation: the compact text and its digest back every ETag;
// the pretty text is built and the dictionary form read back on Python calls.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/base/sha256.hpp"
#include "core/payload/digest.hpp"
#include "core/payload/payload.hpp"
#include "typical_post.hpp"

namespace {

using quarlo::Json;

void BM_Payload_CompactSha256(benchmark::State& state) {
  const auto p = quarlo::bench::typical_post_payload();
  for (auto _ : state) {
    auto digest = quarlo::hash_payload(p);
    benchmark::DoNotOptimize(digest);
  }
  state.counters["text_bytes"] = static_cast<double>(p.to_json_compact().size());
}
BENCHMARK(BM_Payload_CompactSha256);

void BM_Payload_CompactText(benchmark::State& state) {
  const auto p = quarlo::bench::typical_post_payload();
  for (auto _ : state) {
    auto text = p.to_json_compact();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Payload_CompactText);

// The digest alone, over the same text.
void BM_Payload_Sha256Only(benchmark::State& state) {
  const std::string text = quarlo::bench::typical_post_payload().to_json_compact();
  for (auto _ : state) {
    auto digest = quarlo::sha256_hex(text);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_Payload_Sha256Only);

void BM_Payload_PrettyText(benchmark::State& state) {
  const auto p = quarlo::bench::typical_post_payload();
  for (auto _ : state) {
    auto text = p.to_json_pretty();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Payload_PrettyText);

void BM_Payload_FromDict(benchmark::State& state) {
  // The dictionary form: the compact text read back.
  const Json dict = *quarlo::parse_json(quarlo::bench::typical_post_payload().to_json_compact());
  for (auto _ : state) {
    auto p = quarlo::SEOPayload::from_dict(dict);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_Payload_FromDict);

}  // namespace
