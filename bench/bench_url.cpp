// URL hot paths: canonical URL resolution and tracking-parameter removal run
// on every page view.
#include <benchmark/benchmark.h>

#include "core/detrack.hpp"
#include "core/url.hpp"
#include "core/whatwg_url.hpp"

namespace {

quarlo::SEOConfig site_config() {
  quarlo::SEOConfig c;
  c.canonical_host = "www.example.com";
  c.public_base_url = "https://www.example.com";
  return c;
}

void BM_NormalizePublicUrl_Route(benchmark::State& state) {
  const auto config = site_config();
  for (auto _ : state) {
    auto r = quarlo::normalize_public_url("/blog/hello-world/", config);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_NormalizePublicUrl_Route);

void BM_NormalizePublicUrl_FullUrlWithQuery(benchmark::State& state) {
  const auto config = site_config();
  for (auto _ : state) {
    auto r = quarlo::normalize_public_url(
        "https://www.example.com/blog/hello-world/?utm_source=news&page=2&utm_medium=email&sort=asc",
        config);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_NormalizePublicUrl_FullUrlWithQuery);

void BM_CleanQuery_FiveParams(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quarlo::clean_query("id=42&utm_source=news&page=2&fbclid=abc123&sort=asc");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_CleanQuery_FiveParams);

void BM_CleanUrl(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quarlo::clean_url("https://www.example.com/p?id=42&utm_source=news&page=2&fbclid=abc123");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_CleanUrl);

// The URL parser alone, by kind of host: plain ASCII, ASCII with a
// Punycode label, and non-ASCII (UTS #46 through ICU).
void BM_WhatwgParse_AsciiHost(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quarlo::whatwg::parse("https://www.Example.com/blog/hello-world/?page=2#top");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_WhatwgParse_AsciiHost);

void BM_WhatwgParse_PunycodeHost(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quarlo::whatwg::parse("https://www.xn--mnchen-3ya.example/blog/hello-world/?page=2#top");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_WhatwgParse_PunycodeHost);

void BM_WhatwgParse_NonAsciiHost(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quarlo::whatwg::parse("https://www.m\xC3\xBCnchen.example/blog/hello-world/?page=2#top");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_WhatwgParse_NonAsciiHost);

}  // namespace
