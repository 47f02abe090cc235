// Text extraction: the description snippet of a post without an excerpt is
// derived from its body on every build. A typical 1.5 KB blog body, then
// large hostile inputs at two sizes to show that the time stays linear.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.hpp"

namespace {

// About 1.5 KB: paragraphs, a heading, links with attributes, emphasis, a
// list, an image, an entity and typographic quotes and dashes.
constexpr std::string_view kPostBody =
    "<p>Last spring we moved the whole build farm to a new set of machines, and we learned a few things "
    "along the way. This post collects the ones we wish we had known <em>before</em> we started.</p>\n"
    "<h2 id=\"planning\">Planning the move</h2>\n"
    "<p>We began with an inventory of every job, its owner and the secrets it needed. That list turned out "
    "to be the most useful document of the project \xE2\x80\x94 it told us which jobs nobody had touched in "
    "a year, and we simply retired those.</p>\n"
    "<p><img src=\"/media/2024/05/racks.jpg\" alt=\"Two racks of servers\" width=\"1200\" height=\"800\" "
    "loading=\"lazy\"></p>\n"
    "<p>A few rules we followed:</p>\n"
    "<ul>\n"
    "  <li>Move one team at a time, and keep the old runners for a week.</li>\n"
    "  <li>Pin every tool version; \xE2\x80\x9Clatest\xE2\x80\x9D is not a version.</li>\n"
    "  <li>Measure queue times before and after, not just build times.</li>\n"
    "</ul>\n"
    "<h2 id=\"results\">Results</h2>\n"
    "<p>Median build time fell from 14 to 9 minutes, and the 95th percentile queue time dropped by half. "
    "Caches did most of the work: see <a href=\"https://example.com/blog/build-caches/\" "
    "rel=\"noopener\">our earlier post on build caches</a> for the details &amp; the numbers.</p>\n"
    "<blockquote><p>It\xE2\x80\x99s the boring parts of a migration that decide whether it succeeds.</p>"
    "</blockquote>\n"
    "<p>Next time we will write the inventory first and automate the rest. If you are planning a similar "
    "move, <strong>start with the list</strong>; everything else follows from it.</p>\n"
    "<p>Thanks to everyone on the infrastructure team who carried pagers during the switch-over week, and "
    "to the teams who volunteered to go first.</p>\n";

void BM_HtmlToText_PostBody(benchmark::State& state) {
  const std::string body(kPostBody);
  for (auto _ : state) {
    auto text = quarlo::html_to_text(body);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(body.size()));
  state.counters["bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_HtmlToText_PostBody);

void BM_DescriptionSnippet_PostBody(benchmark::State& state) {
  const std::string body(kPostBody);
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
