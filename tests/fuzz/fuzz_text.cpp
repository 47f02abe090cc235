// Fuzzes html_to_text and build_description_snippet. The first input byte is
// the snippet limit, the rest the HTML. Beyond not crashing: the text equals
// the step-by-step rendering, has no white space at either end and no run of
// it inside, is valid UTF-8 whenever the input is, and the snippet keeps to
// its limit in characters without splitting one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "../core/text_reference.hpp"
#include "core/payload/text.hpp"
#include "core/base/unicode.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view input, std::string_view detail) {
  std::fprintf(stderr, "%s\n  input:  %.*s\n  detail: %.*s\n", what, static_cast<int>(input.size()), input.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 8192) return 0;
  const std::size_t max_chars = data[0];
  const std::string_view html(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string text = quarlo::html_to_text(html);
  if (text.size() > html.size()) fail("text longer than its input", html, text);
  if (text != quarlo::testing_reference::html_to_text(html)) fail("text differs from the step-by-step rendering", html, text);
  if (quarlo::trim(text) != text) fail("text not trimmed", html, text);
  if (text.find("  ") != std::string::npos) fail("white-space run left in the text", html, text);
  const bool valid_input = quarlo::is_valid_utf8(html);
  if (valid_input && !quarlo::is_valid_utf8(text)) fail("valid input gave invalid UTF-8", html, text);

  const std::optional<std::string> snippet = quarlo::build_description_snippet(html, max_chars);
  if (text.empty()) {
    if (snippet) fail("snippet of an empty text", html, *snippet);
    return 0;
  }
  if (!snippet) fail("no snippet of a non-empty text", html, text);
  const std::size_t count = quarlo::count_scalars(text);
  if (count <= max_chars) {
    if (*snippet != text) fail("short text was cut", html, *snippet);
    return 0;
  }
  const std::size_t kept = max_chars >= 3 ? max_chars - 3 : 0;
  if (quarlo::count_scalars(*snippet) != kept + 3) fail("snippet has the wrong length", html, *snippet);
  if (snippet->size() < 3 || snippet->compare(snippet->size() - 3, 3, "...") != 0) fail("no ellipsis", html, *snippet);
  const std::string_view prefix = std::string_view(*snippet).substr(0, snippet->size() - 3);
  if (text.compare(0, prefix.size(), prefix) != 0) fail("snippet is not a prefix of the text", html, *snippet);
  if (quarlo::count_scalars(prefix) != kept || kept + quarlo::count_scalars(std::string_view(text).substr(prefix.size())) != count) {
    fail("cut split a character", html, *snippet);
  }
  if (valid_input && !quarlo::is_valid_utf8(*snippet)) fail("snippet is invalid UTF-8", html, *snippet);
  return 0;
}
