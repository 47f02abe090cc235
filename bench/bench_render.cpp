// Head rendering runs on every page view: the whole snippet of a typical post,
// and a large hostile payload to show the cost stays linear in its size.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "core/base/json.hpp"
#include "core/payload/payload.hpp"
#include "typical_post.hpp"

namespace {

using quarlo::Json;
using quarlo::SEOPayload;

void BM_RenderHtml_TypicalPost(benchmark::State& state) {
  const SEOPayload p = quarlo::bench::typical_post_payload();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto r = p.render_html();
    bytes = r.size();
    benchmark::DoNotOptimize(r);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderHtml_TypicalPost);

void BM_RenderOpenGraph_TypicalPost(benchmark::State& state) {
  const SEOPayload p = quarlo::bench::typical_post_payload();
  for (auto _ : state) {
    auto r = p.render_opengraph();
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RenderOpenGraph_TypicalPost);

void BM_RenderJsonLd_TypicalPost(benchmark::State& state) {
  const SEOPayload p = quarlo::bench::typical_post_payload();
  for (auto _ : state) {
    auto r = p.render_jsonld();
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RenderJsonLd_TypicalPost);

// The pretty layout alone on the same document, for comparison with the
// script element above.
void BM_WriteJsonPretty_TypicalSchema(benchmark::State& state) {
  const SEOPayload p = quarlo::bench::typical_post_payload();
  for (auto _ : state) {
    std::string out;
    out.reserve(2048);
    quarlo::append_pretty_json_text(out, p.schema_jsonld->text());
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_WriteJsonPretty_TypicalSchema);

// Every byte of the title needs an entity and the schema text is dense in
// "</" and "<!--": the time per byte should stay flat as the size grows.
std::string repeat(std::string_view unit, std::size_t size) {
  std::string s;
  s.reserve(size + unit.size());
  while (s.size() < size) s.append(unit);
  return s;
}

void BM_RenderHtml_Hostile(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  SEOPayload p = quarlo::bench::typical_post_payload();
  p.title = repeat("&<>\"'", size);
  p.schema_jsonld = quarlo::JsonDoc::from_value(Json{{"headline", repeat("</<!--", size)}});
  for (auto _ : state) {
    auto r = p.render_html();
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(2 * size));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RenderHtml_Hostile)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 20)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

}  // namespace
