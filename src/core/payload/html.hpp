// HTML escaping of text values for the head snippet. The rendering itself
// is SEOPayload::render_html and its parts (payload.hpp), defined in html.cpp.
#pragma once

#include <string>
#include <string_view>

namespace quarlo {

// "&", "<", ">", '"' and "'" replaced, in that order, by "&amp;", "&lt;",
// "&gt;", "&quot;" and "&#x27;".
[[nodiscard]] std::string escape_html(std::string_view text);
void append_escaped_html(std::string& out, std::string_view text);

}  // namespace quarlo
