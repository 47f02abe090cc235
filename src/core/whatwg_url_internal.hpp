// Internals of the URL parser, for checking its fast paths against the
// general ones (the fuzz target); not for use by the rest of the core.
#pragma once

#include <string>
#include <string_view>

namespace quarlo::whatwg::internal {

// Runs the host parser of a special URL (e.g. "http") on `input` into `out`.
// With `fast_path` false every domain is percent-decoded and then lower-cased
// when ASCII or sent through ICU when not; with it true ASCII domains without
// percent-encoding are lower-cased in place. Returns the failure
// description, empty on success.
[[nodiscard]] std::string_view parse_special_host(std::string_view input, std::string& out, bool fast_path);

}  // namespace quarlo::whatwg::internal
