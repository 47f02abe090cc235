// Text extraction: the description snippet of a post without an excerpt is
// derived from its body on every build. A typical 1.5 KB blog body, then
// large hostile inputs at two sizes to show that the time stays linear.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/payload/text.hpp"
#include "typical_post.hpp"

namespace {

void BM_HtmlToText_PostBody(benchmark::State& state) {
  const std::string body(quarlo::bench::kPostBody);
  for (auto _ : state) {
    auto text = quarlo::html_to_text(body);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(body.size()));
  state.counters["bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_HtmlToText_PostBody);

void BM_DescriptionSnippet_PostBody(benchmark::State& state) {
  const std::string body(quarlo::bench::kPostBody);
  for (auto _ : state) {
    auto snippet = quarlo::build_description_snippet(body, 160);
    benchmark::DoNotOptimize(snippet);
  }
}
BENCHMARK(BM_DescriptionSnippet_PostBody);

// `unit` repeated to `bytes` (whole units), optionally after a prefix.
std::string repeated(std::string_view prefix, std::string_view unit, std::size_t bytes) {
  std::string out(prefix);
  while (out.size() + unit.size() <= bytes) out.append(unit);
  return out;
}

void run_hostile(benchmark::State& state, const std::string& input) {
  for (auto _ : state) {
    auto text = quarlo::html_to_text(input);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(input.size()));
}

constexpr std::int64_t kSmall = 64 << 10;
constexpr std::int64_t kLarge = 1 << 20;

#define HOSTILE(name, prefix, unit)                                                     \
  void BM_HtmlToText_##name(benchmark::State& state) {                                  \
    run_hostile(state, repeated(prefix, unit, static_cast<std::size_t>(state.range(0)))); \
  }                                                                                     \
  BENCHMARK(BM_HtmlToText_##name)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond)

// Nothing but "<": one unclosed tag.
HOSTILE(OpenBrackets, "", "<");
// Nested tags separated by runs of white space.
HOSTILE(NestedTagsAndWhiteSpace, "", "<div><span class=\"x\"> \t\n</span>\r\n  <b>a</b>\xC2\xA0");
// Short tags whose texts could name a skipped element, in all letter cases.
HOSTILE(ScriptLookalikes, "", "<SCRIPT>x</SCRIPT><Style >y<noscripT/>z<STYLX>");
// Inside a skipped element: every "<" opens a tag that is not the closing one.
HOSTILE(InsideScript, "<script>", "if(a<b&&c>d)e();</scrip>");
// Non-ASCII text: typographic punctuation, NBSP, ideographic space, CJK.
HOSTILE(NonAsciiText, "", "\xE2\x80\x9C" "Caf\xC3\xA9\xE2\x80\x9D\xC2\xA0\xE2\x80\x94 \xE4\xB8\x96\xE7\x95\x8C\xE3\x80\x80");
// Short non-ASCII tag texts: each goes through the full lower-case mapping.
HOSTILE(NonAsciiTags, "", "<SCR\xC4\xB0PT>x");
// Ill-formed UTF-8 bytes.
HOSTILE(InvalidUtf8, "", "\xFF\xE2\x80 \xC2x");

}  // namespace
