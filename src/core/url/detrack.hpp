// Recognising and removing tracking query parameters (campaign tags, click
// identifiers, analytics and session identifiers). The built-in list is
// fixed; callers with a URL policy add names through its
// extra_tracking_params. None of these operations fails.
#pragma once

#include <array>
#include <bit>
#include <utility>
#include <vector>
#include <span>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A raw (undecoded) query key, decoded and tested against the built-in list
// and `extra`; decoding is skipped when the key needs none.
[[nodiscard]] bool is_tracking_key(std::string_view raw_key, std::span<const std::string> extra = {});

// One "&"-separated piece of a query: its text and the length of its key
// (the text before the first "=", or the whole piece).
struct QueryPiece {
  std::string_view text;
  std::size_t key_length;
  bool has_value;  // the piece contains "="
  [[nodiscard]] std::string_view key() const noexcept { return text.substr(0, key_length); }
};

// Calls fn(const QueryPiece&) for every piece in order, empty ones included
// (an empty query gives one empty piece).
template <class Fn>
void for_each_query_piece(std::string_view query, Fn&& fn) {
  // One pass over the delimiters: pieces are short, so rather than a search
  // call per delimiter, blocks of sixteen bytes are searched for both at once.
  const char* const data = query.data();
  const std::size_t n = query.size();
  std::size_t start = 0;
  std::size_t eq = std::string_view::npos;
  // `i` holds a "&" or a "=".
  const auto delimiter = [&](std::size_t i) {
    if (data[i] == '&') {
      fn(QueryPiece{query.substr(start, i - start), eq == std::string_view::npos ? i - start : eq - start,
                    eq != std::string_view::npos});
      start = i + 1;
      eq = std::string_view::npos;
    } else if (eq == std::string_view::npos) {
      eq = i;
    }
  };
  std::size_t i = 0;
#if defined(__SSE2__)
  if (n >= 16) {
    const auto delimiters = [&](std::size_t at) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
      return static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('=')))));
    };
    for (; i + 16 <= n; i += 16) {
      for (unsigned mask = delimiters(i); mask != 0; mask &= mask - 1) {
        delimiter(i + static_cast<std::size_t>(std::countr_zero(mask)));
      }
    }
    if (i < n) {
      // The last block overlaps bytes already seen; their bits are dropped.
      const std::size_t last = n - 16;
      for (unsigned mask = delimiters(last) & (~0U << (i - last)); mask != 0; mask &= mask - 1) {
        delimiter(last + static_cast<std::size_t>(std::countr_zero(mask)));
      }
      i = n;
    }
  }
#endif
  for (; i < n; ++i) {
    if (data[i] == '&' || data[i] == '=') delimiter(i);
  }
  fn(QueryPiece{query.substr(start), eq == std::string_view::npos ? n - start : eq - start,
                eq != std::string_view::npos});
}


// Drops every "&"-separated piece whose decoded key is a built-in tracking
// parameter; every other piece (empty ones included) is kept unchanged and
// in order. A leading "?" is not removed: it becomes part of the first key.
[[nodiscard]] std::string clean_query(std::string_view query);

// Raw query parameters, key -> value, keys unique and in byte-wise ascending
// order. Keys and values are views into the URL that was cleaned: the map
// is valid only while that text lives.
class ParamMap {
 public:
  using Entry = std::pair<std::string_view, std::string_view>;

  ParamMap() = default;
  // The map of `pieces` in the order they arrived: a later piece with the
  // same key replaces the value of an earlier one. Sorted once, in time
  // linear in the length of the keys, whatever order they arrive in.
  explicit ParamMap(std::vector<Entry> pieces);

  [[nodiscard]] const std::string_view* find(std::string_view key) const noexcept;

  [[nodiscard]] auto begin() const noexcept { return entries_.begin(); }
  [[nodiscard]] auto end() const noexcept { return entries_.end(); }
  [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
  [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }

  friend bool operator==(const ParamMap&, const ParamMap&) = default;

 private:
  std::vector<Entry> entries_;
};

struct CleanResult {
  std::string url;
  ParamMap removed_params;  // raw key -> raw value
  ParamMap cleaned_params;  // raw key -> raw value

  friend bool operator==(const CleanResult&, const CleanResult&) = default;
};

// Cuts the fragment off at the first "#", splits the rest at its first "?"
// and cleans that query; the fragment, when there is one, is appended again
// unchanged ("#" included) and never counts as part of the query, so a "#"
// before any "?" means there is no query.
// Pieces with "=" are recorded in removed_params or cleaned_params (a later
// piece with the same raw key replaces the earlier value); pieces without
// "=" stay in the URL but go into neither map.
// The maps of the result are views into `url`.
[[nodiscard]] CleanResult clean_url(std::string_view url);

}  // namespace quarlo
