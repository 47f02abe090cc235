// Payload serialisation: the compact text and its digest back every ETag;
// the dictionary form and the pretty text are built on each Python call.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/hashing.hpp"
#include "core/payload.hpp"

namespace {

using quarlo::Json;

// A typical blog post: the social records filled in, an Article document and
// a three-item breadcrumb list.
quarlo::SEOPayload post_payload() {
  quarlo::SEOPayload p;
  p.title = "Ten things we learned shipping a static site | Example Blog";
  p.description =
      "After a year of running our documentation on a home-grown static site generator, here "
      "is what went well, what hurt, and what we would do differently next\u2026";
  p.canonical = "https://www.example.com/blog/ten-things-we-learned/";
  p.robots = "index,follow,max-image-preview:large";
  p.og.type = "article";
  p.og.title = p.title;
  p.og.description = p.description;
  p.og.url = p.canonical;
  p.og.image = "https://www.example.com/media/2024/ten-things-cover.jpg";
  p.og.image_width = 1200;
  p.og.image_height = 630;
  p.og.image_alt = "A laptop showing a terminal with a build log";
  p.og.site_name = "Example Blog";
  p.og.locale = "en_US";
  p.twitter.card = "summary_large_image";
  p.twitter.title = p.title;
  p.twitter.description = p.description;
  p.twitter.image = *p.og.image;
  p.twitter.image_alt = p.og.image_alt;
  p.twitter.site = "@example";

  // As the article builder writes it: the base document plus
  // "mainEntityOfPage".
  Json article = {
      {"@context", "https://schema.org"},
      {"@type", "Article"},
      {"name", p.title},
      {"url", p.canonical},
      {"description", p.description},
      {"image", *p.og.image},
      {"datePublished", "2024-03-18T09:30:00+00:00"},
      {"dateModified", "2024-04-02T14:05:00+00:00"},
      {"author", {{"@type", "Person"}, {"name", "Jane Doe"}}},
      {"publisher",
       {{"@type", "Organization"},
        {"name", "Example Blog"},
        {"logo", "https://www.example.com/logo.png"}}},
      {"mainEntityOfPage", {{"@id", p.canonical}}},
  };
  Json items = Json::array();
  const std::vector<std::pair<const char*, const char*>> crumbs = {
      {"Home", "https://www.example.com/"},
      {"Blog", "https://www.example.com/blog/"},
      {"Ten things we learned", "https://www.example.com/blog/ten-things-we-learned/"}};
  int position = 1;
  for (const auto& [name, url] : crumbs) {
    items.push_back({{"@type", "ListItem"}, {"position", position++}, {"name", name}, {"item", url}});
  }
  Json breadcrumbs = {{"@context", "https://schema.org"},
                      {"@type", "BreadcrumbList"},
                      {"itemListElement", items}};
  p.schema_jsonld = Json::array({article, breadcrumbs});
  return p;
}

void BM_Payload_CompactSha256(benchmark::State& state) {
  const auto p = post_payload();
  for (auto _ : state) {
    auto digest = quarlo::hash_payload(p);
    benchmark::DoNotOptimize(digest);
  }
  state.counters["text_bytes"] = static_cast<double>(p.to_json_compact()->size());
}
BENCHMARK(BM_Payload_CompactSha256);

void BM_Payload_CompactText(benchmark::State& state) {
  const auto p = post_payload();
  for (auto _ : state) {
    auto text = p.to_json_compact();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Payload_CompactText);

// The digest alone, over the same text.
void BM_Payload_Sha256Only(benchmark::State& state) {
  const std::string text = *post_payload().to_json_compact();
  for (auto _ : state) {
    auto digest = quarlo::sha256_hex(text);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_Payload_Sha256Only);

void BM_Payload_PrettyText(benchmark::State& state) {
  const auto p = post_payload();
  for (auto _ : state) {
    auto text = p.to_json_pretty();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Payload_PrettyText);

void BM_Payload_ToDict(benchmark::State& state) {
  const auto p = post_payload();
  for (auto _ : state) {
    auto dict = p.to_dict();
    benchmark::DoNotOptimize(dict);
  }
}
BENCHMARK(BM_Payload_ToDict);

void BM_Payload_FromDict(benchmark::State& state) {
  const Json dict = *post_payload().to_dict();
  for (auto _ : state) {
    auto p = quarlo::SEOPayload::from_dict(dict);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_Payload_FromDict);

}  // namespace
