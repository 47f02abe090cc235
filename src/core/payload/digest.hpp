// The payload digest and ETag: SHA-256 of the payload's compact JSON text.
#pragma once

#include <string>

namespace quarlo {

struct SEOPayload;

// SHA-256 of the payload's compact JSON text, as 64 lower-case hex digits.
[[nodiscard]] std::string hash_payload(const SEOPayload& payload);

// The digest in double quotation marks (a strong HTTP ETag, 66 characters).
[[nodiscard]] std::string etag_payload(const SEOPayload& payload);

}  // namespace quarlo
