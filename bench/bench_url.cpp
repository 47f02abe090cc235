// URL hot paths: canonical URL resolution and tracking-parameter removal run
// on every page view.
#include <benchmark/benchmark.h>

#include "core/url/detrack.hpp"
#include "core/url/url.hpp"
#include "core/url/whatwg_url.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

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

// The same with the base URL parsed beforehand, as the binding's
// configuration object holds it.
void BM_NormalizePublicUrl_Route_PublicBase(benchmark::State& state) {
  const auto config = site_config();
  const quarlo::PublicBase base(config.public_base_url);
  for (auto _ : state) {
    auto r = quarlo::normalize_public_url("/blog/hello-world/", config, &base);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_NormalizePublicUrl_Route_PublicBase);

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

// Cost against input size, which must grow linearly: a query of distinct
// keys arriving in descending order, and a host of many non-ASCII labels
// ("\xC3\xBC." repeated), which ICU would convert in quadratic time in one go.
std::string descending_keys_url(std::size_t bytes) {
  std::string url = "https://www.example.com/p?";
  const std::size_t keys = bytes / 13 + 1;
  for (std::size_t i = keys; i-- > 0;) {
    const std::string number = std::to_string(i);
    url += 'k';
    url.append(7 - std::min<std::size_t>(7, number.size()), '0');
    url += number;
    url += "=vvv&";
  }
  return url;
}

void BM_CleanUrl_DescendingKeys(benchmark::State& state) {
  const std::string url = descending_keys_url(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto r = quarlo::clean_url(url);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(url.size()));
}
BENCHMARK(BM_CleanUrl_DescendingKeys)->Arg(1 << 10)->Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20);

void BM_WhatwgParse_ManyNonAsciiLabels(benchmark::State& state) {
  std::string url = "http://";
  for (std::int64_t i = 0; i < state.range(0) / 3; ++i) url += "\xC3\xBC.";
  url += "com/";
  for (auto _ : state) {
    auto r = quarlo::whatwg::parse(url);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(url.size()));
}
BENCHMARK(BM_WhatwgParse_ManyNonAsciiLabels)->Arg(1 << 10)->Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20);

}  // namespace
