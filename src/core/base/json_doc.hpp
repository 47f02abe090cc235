// A JSON document held as its canonical compact text: exactly what the
// compact writer (json.hpp) writes for the value, object keys byte-wise
// ascending, numbers in the writer's formatting. The payload keeps its
// JSON-LD document this way, so the compact text, the digest and the pretty
// text are written from the text without walking a tree.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "core/base/json.hpp"

namespace quarlo {

class TextCursor;

class JsonDoc {
 public:
  // The document `null`.
  JsonDoc() : text_("null") {}

  // The canonical compact text of `value`.
  [[nodiscard]] static JsonDoc from_value(const Json& value);
  // Text already in canonical compact form, taken as it is (writers that
  // produce that form directly hand it over this way).
  [[nodiscard]] static JsonDoc from_canonical(std::string text) noexcept { return JsonDoc(std::move(text)); }

  [[nodiscard]] std::string_view text() const noexcept { return text_; }
  // The document as a value, parsed back from the text. Never fails: any
  // nesting depth reads back, and so do strings that are not valid UTF-8.
  [[nodiscard]] Json value() const;

  // Whether the document is an object or an array (its first byte).
  [[nodiscard]] bool is_object() const noexcept { return !text_.empty() && text_.front() == '{'; }
  [[nodiscard]] bool is_array() const noexcept { return !text_.empty() && text_.front() == '['; }

  // Equal as JSON values: equal texts are equal documents; otherwise the
  // values decide, so 1 equals 1.0 and 0.0 equals -0.0.
  friend bool operator==(const JsonDoc& a, const JsonDoc& b);

 private:
  explicit JsonDoc(std::string text) noexcept : text_(std::move(text)) {}

  std::string text_;
};

// For converters that build another form straight from canonical text: the
// string literal whose opening quote is text[at], its content decoded and
// appended to `out`; returns the index just past its closing quote.
std::size_t read_json_doc_string(std::string_view text, std::size_t at, std::string& out);

// Appends the pretty layout of the canonical compact text `compact`, the
// text append_json writes in JsonLayout::Pretty at nesting `level` for the
// same value: two spaces per level, "{}" and "[]" when empty, ": " after
// keys; strings are copied untouched.
void append_pretty_json_text(std::string& out, std::string_view compact, std::size_t level = 0);

// The same pretty text made safe inside an HTML script element, in the same
// pass: in strings, "</" becomes "<\/" and "<!--" becomes "\u003c!--" (valid
// JSON escapes that read back as the same text).
void append_pretty_json_text_for_script(std::string& out, std::string_view compact);
// The same, written at `w` through `cursor`; returns the position after it.
char* put_pretty_json_text_for_script(TextCursor& cursor, char* w, std::string_view compact);

}  // namespace quarlo
