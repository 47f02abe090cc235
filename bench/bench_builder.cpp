// The payload build of a typical post: every precedence chain, the canonical
// URL, the description snippet of the body, the Article document and the
// breadcrumb list.
#include <benchmark/benchmark.h>

#include "core/payload/builder.hpp"
#include "typical_post.hpp"

namespace {

void BM_BuildPayload_TypicalPost(benchmark::State& state) {
  const quarlo::SEOConfig config = quarlo::bench::typical_config();
  const quarlo::SEOEntity entity = quarlo::bench::typical_post_entity();
  for (auto _ : state) {
    auto payload = quarlo::build_seo_payload_with_overrides(entity, quarlo::bench::kTypicalRoute, config, nullptr);
    benchmark::DoNotOptimize(payload);
  }
}
BENCHMARK(BM_BuildPayload_TypicalPost);

}  // namespace
