// The payload digest and ETag.
#include "core/payload/digest.hpp"

#include "core/base/sha256.hpp"
#include "core/payload/payload.hpp"

namespace quarlo {

std::string hash_payload(const SEOPayload& payload) {
  std::string text;
  payload.append_json_compact(text);
  return sha256_hex(text);
}

std::string etag_payload(const SEOPayload& payload) {
  const std::string digest = hash_payload(payload);
  std::string etag;
  etag.reserve(digest.size() + 2);
  etag.push_back('"');
  etag.append(digest);
  etag.push_back('"');
  return etag;
}

}  // namespace quarlo
