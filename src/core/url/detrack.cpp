// Tracking-parameter recognition and URL/query cleaning.
#include "core/url/detrack.hpp"

#include "core/base/ascii.hpp"
#include "core/base/unicode.hpp"
#include "core/url/whatwg_url.hpp"

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

// The first eight bytes of `key` read as a big-endian number, zeros past
// its end.
std::uint64_t leading_bytes(std::string_view key) noexcept {
  std::uint64_t head = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0U);
  }
  return head;
}

// Positions of `entries` in byte-wise key order, equal keys in the order
// they came, in time linear in the length of the keys (a comparison sort
// would add a logarithmic factor for the many keys of a hostile query).
// Keys are bucketed eight bytes at a time: a stable radix sort on those
// bytes and on the count of key bytes from there, capped at nine, so that a
// key that ends comes before the longer ones; each run of keys that agree
// on the eight bytes and go on is taken up again from the next eight.
// Short runs are sorted by comparison.
std::vector<std::size_t> key_order(const std::vector<ParamMap::Entry>& entries) {
  constexpr std::size_t kShortRun = 32;
  struct Keyed {
    std::uint64_t head;
    std::size_t rest;  // key bytes from the offset, at most 9
    std::size_t position;
  };
  struct Range {
    std::size_t first;
    std::size_t last;
    std::size_t offset;  // the keys of the range agree before it
  };
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::vector<Keyed> keyed;
  std::vector<Keyed> spare;
  std::vector<Range> pending{{0, order.size(), 0}};
  while (!pending.empty()) {
    const Range range = pending.back();
    pending.pop_back();
    const auto key = [&](std::size_t position) { return entries[position].first.substr(range.offset); };
    const auto first = order.begin() + static_cast<std::ptrdiff_t>(range.first);
    const auto last = order.begin() + static_cast<std::ptrdiff_t>(range.last);
    if (range.last - range.first <= kShortRun) {
      std::stable_sort(first, last, [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
      continue;
    }
    keyed.clear();
    keyed.reserve(range.last - range.first);
    for (auto it = first; it != last; ++it) {
      const std::string_view k = key(*it);
      keyed.push_back(Keyed{leading_bytes(k), std::min<std::size_t>(k.size(), 9), *it});
    }
    const auto pass = [&](auto digit) {
      std::array<std::size_t, 256> start{};
      for (const Keyed& k : keyed) ++start[digit(k)];
      if (std::find(start.begin(), start.end(), keyed.size()) != start.end()) return;  // one bucket
      std::size_t sum = 0;
      for (std::size_t& s : start) sum += std::exchange(s, sum);
      spare.resize(keyed.size());
      for (const Keyed& k : keyed) spare[start[digit(k)]++] = k;
      keyed.swap(spare);
    };
    pass([](const Keyed& k) { return k.rest; });
    for (unsigned shift = 0; shift < 64; shift += 8) {
      pass([shift](const Keyed& k) { return static_cast<std::size_t>((k.head >> shift) & 0xFF); });
    }
    for (std::size_t i = 0; i < keyed.size(); ++i) first[static_cast<std::ptrdiff_t>(i)] = keyed[i].position;
    for (std::size_t i = 0; i < keyed.size();) {
      std::size_t j = i + 1;
      while (j < keyed.size() && keyed[j].head == keyed[i].head && keyed[j].rest == keyed[i].rest) ++j;
      if (j - i > 1 && keyed[i].rest > 8) pending.push_back(Range{range.first + i, range.first + j, range.offset + 8});
      i = j;
    }
  }
  return order;
}

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
  const std::vector<std::size_t> order = key_order(entries_);
  std::vector<Entry> sorted;
  sorted.reserve(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    // The keys are now visited out of the order of the text they point
    // into: a large query's next keys are fetched ahead.
    constexpr std::size_t kAhead = 8;
    if (k + kAhead < order.size()) __builtin_prefetch(entries_[order[k + kAhead]].first.data());
    // Of equal keys, the one that came last wins.
    if (k + 1 < order.size() && entries_[order[k + 1]].first == entries_[order[k]].first) continue;
    sorted.push_back(entries_[order[k]]);
  }
  entries_ = std::move(sorted);
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
  // Room for every piece at once: a large query then takes one block for
  // its pieces instead of a series of ever larger ones.
  kept.reserve(static_cast<std::size_t>(std::count(query.begin(), query.end(), '&')) + 1);
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
