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

struct SEOPayload;

// SEOPayload::render_html written into `buffer` from its start, as a view
// into it. The buffer keeps its size (at least the text's; the bytes after
// the text are left as they are), so a buffer used for page after page is
// neither allocated nor filled again.
[[nodiscard]] std::string_view render_html_into(const SEOPayload& payload, std::string& buffer);

}  // namespace quarlo
