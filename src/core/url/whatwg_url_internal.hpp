// Internals of the URL parser, for checking its fast paths against the
// general ones (the fuzz target); not for use by the rest of the core.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarlo::whatwg::internal {

// Runs the host parser of a special URL (e.g. "http") on `input` into `out`.
// With `fast_path` false every domain is percent-decoded and then lower-cased
// when ASCII or sent through ICU when not; with it true ASCII domains without
// percent-encoding are lower-cased in place. Returns the failure
// description, empty on success.
[[nodiscard]] std::string_view parse_special_host(std::string_view input, std::string& out, bool fast_path);

// UTS #46 to ASCII (ICU) of a domain, handing ICU at most `labels_per_call`
// labels at a time (0: the whole domain in one call). Every split must give
// what the one call gives. Returns the failure description, empty on success.
[[nodiscard]] std::string_view uts46_to_ascii(std::string_view domain, std::string& out,
                                              std::size_t labels_per_call);

}  // namespace quarlo::whatwg::internal
