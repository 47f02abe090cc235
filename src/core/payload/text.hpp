// Plain text from HTML fragments, for descriptions derived from an entity's
// body: a small tag stripper (not an HTML parser) that drops the content of
// <style>, <script> and <noscript>, turns every other tag into a space,
// leaves character references as they stand, and collapses Unicode
// White_Space. Lengths are counted in Unicode scalar values; an ill-formed
// UTF-8 sequence is copied unchanged and counts as one non-space character
// (pieces that meet once a skipped element is dropped are read together).
// Both operations run in time linear in the input.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarlo {

// One line of text: tags replaced by spaces (or dropped with their content
// for the three skipped elements, compared on the whole lower-cased tag
// text), white-space runs collapsed to one space, both ends trimmed. An
// unclosed "<" hides the rest of the input, and so does a skipped element
// without its exact closing tag ("</script>", in any letter case).
[[nodiscard]] std::string html_to_text(std::string_view html);

// html_to_text cut to at most `max_chars` characters: a longer text keeps its
// first max_chars - 3 characters (none when max_chars < 3) followed by "...".
// Absent for an absent input or one without any text.
[[nodiscard]] std::optional<std::string> build_description_snippet(std::optional<std::string_view> html,
                                                                   std::size_t max_chars);

}  // namespace quarlo
