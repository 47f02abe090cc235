// Head rendering runs on every page view: the whole snippet of a typical post,
// and a large hostile payload to show the cost stays linear in its size.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "core/json.hpp"
#include "core/payload.hpp"

namespace {

using quarlo::Json;
using quarlo::SEOPayload;

// A blog post as the builder produces it: article document and a three-item
// breadcrumb list.
SEOPayload typical_post() {
  SEOPayload p;
  p.title = "How we cut our build times in half | Example Blog";
  p.description =
      "A look at the caching, parallelism and dependency changes that took our CI builds from "
      "twenty minutes to under ten, and what we'd do differently next time.";
  p.canonical = "https://www.example.com/blog/faster-builds/";
  p.robots = "index,follow";
  p.og.type = "article";
  p.og.title = p.title;
  p.og.description = p.description;
  p.og.url = p.canonical;
  p.og.image = "https://www.example.com/media/2024/05/faster-builds-cover.jpg";
  p.og.image_width = 1200u;
  p.og.image_height = 630u;
  p.og.image_alt = "Build duration chart, before & after";
  p.og.site_name = "Example Blog";
  p.og.locale = "en_US";
  p.twitter.card = "summary_large_image";
  p.twitter.title = p.title;
  p.twitter.description = p.description;
  p.twitter.image = *p.og.image;
  p.twitter.site = "@example";

  Json article = {
      {"@context", "https://schema.org"},
      {"@type", "Article"},
      {"name", p.title},
      {"url", p.canonical},
      {"description", p.description},
      {"image", *p.og.image},
      {"datePublished", "2024-05-14T09:30:00Z"},
      {"dateModified", "2024-05-20T16:05:00Z"},
      {"author", {{"@type", "Person"}, {"name", "Jane Doe"}}},
      {"publisher",
       {{"@type", "Organization"},
        {"name", "Example Inc."},
        {"logo", "https://www.example.com/media/logo.png"}}},
      {"mainEntityOfPage", {{"@id", p.canonical}}},
  };
  Json items = Json::array();
  const char* names[] = {"Home", "Blog", "How we cut our build times in half"};
  const char* urls[] = {"https://www.example.com/", "https://www.example.com/blog/",
                        "https://www.example.com/blog/faster-builds/"};
  for (int i = 0; i < 3; ++i) {
    items.push_back(
        {{"@type", "ListItem"}, {"item", urls[i]}, {"name", names[i]}, {"position", i + 1}});
  }
  Json breadcrumbs = {{"@context", "https://schema.org"},
                      {"@type", "BreadcrumbList"},
                      {"itemListElement", items}};
  p.schema_jsonld = Json::array({article, breadcrumbs});
  return p;
}

void BM_RenderHtml_TypicalPost(benchmark::State& state) {
  const SEOPayload p = typical_post();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto r = p.render_html();
    bytes = r->size();
    benchmark::DoNotOptimize(r);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderHtml_TypicalPost);

void BM_RenderOpenGraph_TypicalPost(benchmark::State& state) {
  const SEOPayload p = typical_post();
  for (auto _ : state) {
    auto r = p.render_opengraph();
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RenderOpenGraph_TypicalPost);

void BM_RenderJsonLd_TypicalPost(benchmark::State& state) {
  const SEOPayload p = typical_post();
  for (auto _ : state) {
    auto r = p.render_jsonld();
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RenderJsonLd_TypicalPost);

// The JSON writer alone on the same document, for comparison with the script
// element above.
void BM_WriteJsonPretty_TypicalSchema(benchmark::State& state) {
  const SEOPayload p = typical_post();
  for (auto _ : state) {
    std::string out;
    out.reserve(2048);
    quarlo::append_json(out, *p.schema_jsonld, quarlo::JsonLayout::Pretty);
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
  SEOPayload p = typical_post();
  p.title = repeat("&<>\"'", size);
  p.schema_jsonld = Json{{"headline", repeat("</<!--", size)}};
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
