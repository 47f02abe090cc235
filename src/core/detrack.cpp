// Tracking-parameter recognition and URL/query cleaning.
#include "core/detrack.hpp"

#include "core/ascii.hpp"
#include "core/unicode.hpp"
#include "core/whatwg_url.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace quarlo {
namespace {

constexpr bool names_are_lower_case() {
  for (auto name : kTrackingParams) {
    for (char c : name) {
      if (c >= 'A' && c <= 'Z') return false;
    }
  }
  return true;
}
static_assert(names_are_lower_case());

// The built-in names grouped by length, so a key is compared only with the
// names of its own length.
constexpr std::size_t kLongestTrackingParam = 17;

struct LengthBuckets {
  std::array<std::array<std::uint8_t, kTrackingParams.size()>, kLongestTrackingParam + 1> index{};
  std::array<std::uint8_t, kLongestTrackingParam + 1> count{};
};

constexpr LengthBuckets make_length_buckets() {
  LengthBuckets b;
  for (std::size_t i = 0; i < kTrackingParams.size(); ++i) {
    const std::size_t len = kTrackingParams[i].size();
    b.index[len][b.count[len]++] = static_cast<std::uint8_t>(i);
  }
  return b;
}

constexpr LengthBuckets kBuckets = make_length_buckets();

constexpr bool longest_name_fits() {
  for (auto name : kTrackingParams) {
    if (name.size() > kLongestTrackingParam) return false;
  }
  return true;
}
static_assert(longest_name_fits());

// A 256-bit filter over (length, first letter, last letter), ASCII case
// folded: most keys that are no tracking parameter are rejected by one bit
// test, before any name is compared.
constexpr std::size_t filter_slot(std::size_t length, char first, char last) noexcept {
  return (length * 37 + static_cast<unsigned char>(ascii_lower(first)) * 11 +
          static_cast<unsigned char>(ascii_lower(last))) & 255;
}

constexpr std::array<std::uint64_t, 4> make_filter() {
  std::array<std::uint64_t, 4> bits{};
  for (auto name : kTrackingParams) {
    const std::size_t slot = filter_slot(name.size(), name.front(), name.back());
    bits[slot / 64] |= std::uint64_t{1} << (slot % 64);
  }
  return bits;
}

constexpr std::array<std::uint64_t, 4> kFilter = make_filter();

// The built-in names are lower case, so only the key needs folding.
bool equals_folded(std::string_view key, std::string_view lower_name) noexcept {
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (ascii_lower(key[i]) != lower_name[i]) return false;
  }
  return true;
}

bool is_builtin_tracking_param(std::string_view decoded) noexcept {
  const std::size_t len = decoded.size();
  if (len == 0 || len > kLongestTrackingParam) return false;
  const std::size_t slot = filter_slot(len, decoded.front(), decoded.back());
  if ((kFilter[slot / 64] & (std::uint64_t{1} << (slot % 64))) == 0) return false;
  for (std::size_t k = 0; k < kBuckets.count[len]; ++k) {
    if (equals_folded(decoded, kTrackingParams[kBuckets.index[len][k]])) return true;
  }
  return false;
}

// True when the key needs form-urlencoded decoding ("%" or "+") or has
// non-ASCII bytes that may need U+FFFD replacement.
bool needs_decoding(std::string_view raw) noexcept {
  for (char c : raw) {
    if (c == '%' || c == '+' || static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// Tests a raw key without allocating when it needs no decoding.
bool raw_key_is_tracking(std::string_view raw, std::span<const std::string> extra) {
  if (!needs_decoding(raw)) return is_tracking_param_with(raw, extra);
  return is_tracking_param_with(decoded_key(raw), extra);
}

bool key_less(const ParamMap::Entry& a, const ParamMap::Entry& b) noexcept { return a.first < b.first; }

}  // namespace

std::string decoded_key(std::string_view key) {
  std::string bytes;
  whatwg::percent_decode(key, bytes, /*plus_as_space=*/true);
  if (is_ascii(bytes)) return bytes;
  return replace_invalid_utf8(bytes);
}

bool is_tracking_param_with(std::string_view decoded, std::span<const std::string> extra) noexcept {
  if (is_builtin_tracking_param(decoded)) return true;
  for (const std::string& name : extra) {
    if (equals_ignoring_ascii_case(decoded, name)) return true;
  }
  return false;
}

bool is_tracking_param(std::string_view decoded) noexcept {
  return is_tracking_param_with(decoded, {});
}

bool is_tracking_key(std::string_view raw_key, std::span<const std::string> extra) {
  return raw_key_is_tracking(raw_key, extra);
}

std::string clean_query(std::string_view query) {
  std::string out;
  if (query.empty()) return out;
  out.reserve(query.size());
  bool first = true;
  for_each_query_piece(query, [&](const QueryPiece& piece) {
    if (raw_key_is_tracking(piece.key(), {})) return;
    if (!first) out.push_back('&');
    out.append(piece.text);
    first = false;
  });
  return out;
}

ParamMap::ParamMap(std::vector<Entry> pieces) : entries_(std::move(pieces)) {
  const auto out_of_order = [](const Entry& a, const Entry& b) { return !(a.first < b.first); };
  if (std::adjacent_find(entries_.begin(), entries_.end(), out_of_order) == entries_.end()) return;
  // Stable, so equal keys stay in arrival order and the last one wins.
  std::stable_sort(entries_.begin(), entries_.end(), key_less);
  auto out = entries_.begin();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    const auto next = it + 1;
    if (next != entries_.end() && next->first == it->first) continue;
    *out++ = *it;
  }
  entries_.erase(out, entries_.end());
}

const std::string_view* ParamMap::find(std::string_view key) const noexcept {
  const auto at = std::lower_bound(entries_.begin(), entries_.end(), Entry{key, {}}, key_less);
  return at != entries_.end() && at->first == key ? &at->second : nullptr;
}

CleanResult clean_url(std::string_view url) {
  CleanResult result;
  const std::size_t hash = url.find('#');
  const std::string_view before_fragment = url.substr(0, hash);
  const std::size_t q = before_fragment.find('?');
  if (q == std::string_view::npos) {
    result.url = std::string(url);
    return result;
  }
  const std::string_view query = before_fragment.substr(q + 1);
  // The base, then "?" and the kept pieces; the "?" is dropped again when
  // nothing is kept.
  result.url.reserve(url.size());
  result.url.append(url.substr(0, q + 1));
  const std::size_t query_start = result.url.size();
  std::vector<ParamMap::Entry> removed;
  std::vector<ParamMap::Entry> kept;
  if (!query.empty()) {
    bool first = true;
    for_each_query_piece(query, [&](const QueryPiece& piece) {
      const bool tracking = raw_key_is_tracking(piece.key(), {});
      if (piece.has_value) {
        (tracking ? removed : kept).emplace_back(piece.key(), piece.text.substr(piece.key_length + 1));
      }
      if (tracking) return;
      if (!first) result.url.push_back('&');
      result.url.append(piece.text);
      first = false;
    });
  }
  if (result.url.size() == query_start) result.url.pop_back();
  if (hash != std::string_view::npos) result.url.append(url.substr(hash));
  result.removed_params = ParamMap(std::move(removed));
  result.cleaned_params = ParamMap(std::move(kept));
  return result;
}

}  // namespace quarlo
