// HTML escaping of text values for the head snippet. The rendering itself
// is SEOPayload::render_html and its parts (payload.hpp), defined in html.cpp.
#pragma once

#include <string>
#include <string_view>

namespace quarlo {

// "&", "<", ">", '"', "'" and CR (U+000D) replaced, in that order, by
// "&amp;", "&lt;", "&gt;", "&quot;", "&#x27;" and "&#13;". Every other byte,
// NUL included, is copied.
[[nodiscard]] std::string escape_html(std::string_view text);
void append_escaped_html(std::string& out, std::string_view text);

}  // namespace quarlo
