// Recognising and removing tracking query parameters (campaign tags, click
// identifiers, analytics and session identifiers). The built-in list is
// fixed; callers with a URL policy add names through its
// extra_tracking_params. None of these operations fails.
#pragma once

#include <array>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace quarlo {

inline constexpr std::array<std::string_view, 39> kTrackingParams{
    "utm_source", "utm_medium", "utm_campaign", "utm_term", "utm_content",
    "utm_id", "utm_cid", "utm_reader", "utm_name", "utm_social",
    "utm_social-type", "fbclid", "gclid", "gclsrc", "dclid",
    "msclkid", "twclid", "igclid", "ttclid", "li_fat_id",
    "mc_cid", "mc_eid", "_ga", "_gl", "_gac",
    "_gu", "_kx", "_hsenc", "_hsmi", "_openstat",
    "vero_id", "wickedid", "yclid", "phpsessid", "jsessionid",
    "asp.net_sessionid", "ncid", "zanpid", "zanphp",
};

// Decodes a query parameter name as application/x-www-form-urlencoded: "+"
// becomes a space, percent-escapes are decoded, and byte sequences that are
// not valid UTF-8 become U+FFFD.
[[nodiscard]] std::string decoded_key(std::string_view key);

// True when the decoded key equals a built-in name or one of `extra` (names
// used as written), comparing lengths exactly and bytes without regard to
// ASCII case. No prefix or pattern matching.
[[nodiscard]] bool is_tracking_param_with(std::string_view decoded,
                                          std::span<const std::string> extra) noexcept;
[[nodiscard]] bool is_tracking_param(std::string_view decoded) noexcept;

// The raw key of a query piece: the text before its first "=", or the whole
// piece; decoded and tested against the built-in list and `extra`.
[[nodiscard]] bool is_tracking_piece(std::string_view piece,
                                     std::span<const std::string> extra = {});

// Drops every "&"-separated piece whose decoded key is a built-in tracking
// parameter; every other piece (empty ones included) is kept unchanged and
// in order. A leading "?" is not removed: it becomes part of the first key.
[[nodiscard]] std::string clean_query(std::string_view query);

struct CleanResult {
  std::string url;
  std::map<std::string, std::string, std::less<>> removed_params;  // raw key -> raw value
  std::map<std::string, std::string, std::less<>> cleaned_params;  // raw key -> raw value

  friend bool operator==(const CleanResult&, const CleanResult&) = default;
};

// Splits the URL at its first "?" (a "#" is not special) and cleans the query.
// Pieces with "=" are recorded in removed_params or cleaned_params (a later
// piece with the same raw key replaces the earlier value); pieces without
// "=" stay in the URL but go into neither map.
[[nodiscard]] CleanResult clean_url(std::string_view url);

}  // namespace quarlo
