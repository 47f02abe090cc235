// Structured data of a typical post: the Article document (author, dates,
// publisher with logo, image) and a three-item breadcrumb list, built on
// every page view.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>

#include "core/jsonld/breadcrumbs.hpp"
#include "core/jsonld/jsonld.hpp"
#include "core/url/url.hpp"

namespace {

quarlo::SEOConfig site_config() {
  quarlo::SEOConfig c;
  c.canonical_host = "www.example.com";
  c.public_base_url = "https://www.example.com";
  c.publisher_name = "Example Publishing";
  c.publisher_logo = "/static/images/logo-512.png";
  return c;
}

quarlo::SEOEntity post_entity() {
  quarlo::SEOEntity e;
  e.entity_type = quarlo::EntityType::Post;
  e.slug = "hello-world";
  e.title = "Hello, world: notes on building fast sites";
  e.published_at = "2024-03-01T09:30:00Z";
  e.updated_at = "2024-03-04T17:05:00Z";
  e.author_name = "Jane Writer";
  e.breadcrumbs = std::vector<quarlo::Breadcrumb>{
      {"Home", "/"}, {"Blog", "/blog/"}, {"Hello, world", "/blog/hello-world/"}};
  return e;
}

struct Post {
  quarlo::SEOConfig config = site_config();
  quarlo::SEOEntity entity = post_entity();
  std::string canonical = "https://www.example.com/blog/hello-world";
  std::string title = "Hello, world: notes on building fast sites | Example";
  std::string description = "A short tour of what makes a site fast, from caching headers to image sizes and fonts.";
  std::string image = "/media/2024/03/hello-world-cover-1200x630.jpg";

  [[nodiscard]] quarlo::SchemaContext context() const {
    return quarlo::SchemaContext{entity, config, canonical, title, description, image, nullptr};
  }
};

// What one payload build does: one resolver for the page, the schema
// document, then the breadcrumb list through that resolver, both written as
// one canonical text.
void BM_ArticleSchemaAndBreadcrumbs(benchmark::State& state) {
  const Post post;
  for (auto _ : state) {
    const quarlo::PublicUrlResolver resolver(post.config);
    quarlo::SchemaDocuments documents;
    quarlo::append_schema(documents, post.context());
    auto crumbs = quarlo::append_breadcrumb_list(documents.next_document(), *post.entity.breadcrumbs, resolver);
    benchmark::DoNotOptimize(crumbs);
    auto text = std::move(documents).take_text();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_ArticleSchemaAndBreadcrumbs);

void BM_ArticleSchema(benchmark::State& state) {
  const Post post;
  for (auto _ : state) {
    quarlo::SchemaDocuments documents;
    quarlo::append_schema(documents, post.context());
    auto text = std::move(documents).take_text();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_ArticleSchema);

// The document as a value: its text parsed back.
void BM_ArticleSchema_Value(benchmark::State& state) {
  const Post post;
  for (auto _ : state) {
    auto schema = quarlo::build_schema(post.context());
    benchmark::DoNotOptimize(schema);
  }
}
BENCHMARK(BM_ArticleSchema_Value);

void BM_BreadcrumbList_SharedResolver(benchmark::State& state) {
  const Post post;
  const quarlo::PublicUrlResolver resolver(post.config);
  std::string text;
  for (auto _ : state) {
    text.clear();
    auto crumbs = quarlo::append_breadcrumb_list(text, *post.entity.breadcrumbs, resolver);
    benchmark::DoNotOptimize(crumbs);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_BreadcrumbList_SharedResolver);

// The list as a value (its text parsed back) through the configuration
// overload: the base URL parsed once per list instead of once per build.
void BM_BreadcrumbList_FromConfig(benchmark::State& state) {
  const Post post;
  for (auto _ : state) {
    auto crumbs = quarlo::build_breadcrumb_list(*post.entity.breadcrumbs, post.config);
    benchmark::DoNotOptimize(crumbs);
  }
}
BENCHMARK(BM_BreadcrumbList_FromConfig);

}  // namespace
