// Tests of tracking-parameter removal.
#include "core/url/detrack.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace quarlo {
namespace {

TEST(TrackingList, HasThirtyNineDistinctLowerCaseNames) {
  std::set<std::string_view> names(kTrackingParams.begin(), kTrackingParams.end());
  EXPECT_EQ(names.size(), 39u);
  for (auto name : kTrackingParams) {
    for (char c : name) EXPECT_FALSE(c >= 'A' && c <= 'Z') << name;
  }
}

struct DecodeCase {
  std::string_view raw;
  std::string_view decoded;
};

class DecodedKey : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodedKey, DecodesAsFormUrlencodedName) {
  EXPECT_EQ(decoded_key(GetParam().raw), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodedKey,
    ::testing::Values(DecodeCase{"", ""}, DecodeCase{"utm_source", "utm_source"},
                      DecodeCase{"utm%5Fsource", "utm_source"}, DecodeCase{"a+b", "a b"},
                      DecodeCase{"%2B", "+"}, DecodeCase{"100%", "100%"}, DecodeCase{"%zz", "%zz"},
                      DecodeCase{"%4", "%4"}, DecodeCase{"caf%C3%A9", "caf\xC3\xA9"},
                      // invalid UTF-8 after decoding becomes U+FFFD, one per maximal subpart
                      DecodeCase{"%FF", "\xEF\xBF\xBD"}, DecodeCase{"%C3", "\xEF\xBF\xBD"},
                      DecodeCase{"%E2%82x", "\xEF\xBF\xBDx"},
                      DecodeCase{"%ED%A0%80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      DecodeCase{"%00", std::string_view("\0", 1)}));

TEST(TrackingTest, ComparesWholeNamesIgnoringAsciiCase) {
  EXPECT_TRUE(is_tracking_param("utm_source"));
  EXPECT_TRUE(is_tracking_param("UTM_SOURCE"));
  EXPECT_TRUE(is_tracking_param("FbClId"));
  EXPECT_TRUE(is_tracking_param("asp.net_sessionid"));
  EXPECT_FALSE(is_tracking_param("utm_sourcex"));
  EXPECT_FALSE(is_tracking_param("utm_foo"));
  EXPECT_FALSE(is_tracking_param("utm_"));
  EXPECT_FALSE(is_tracking_param(""));
  const std::vector<std::string> extra{"Ref", "sid"};
  EXPECT_TRUE(is_tracking_param_with("ref", extra));
  EXPECT_TRUE(is_tracking_param_with("SID", extra));
  EXPECT_FALSE(is_tracking_param("ref"));
  // extra names are used as written, not decoded
  const std::vector<std::string> encoded{"a%20b"};
  EXPECT_FALSE(is_tracking_param_with("a b", encoded));
}

struct QueryCase {
  std::string_view query;
  std::string_view cleaned;
};

class CleanQuery : public ::testing::TestWithParam<QueryCase> {};

TEST_P(CleanQuery, DropsBuiltInTrackingPiecesOnly) {
  EXPECT_EQ(clean_query(GetParam().query), GetParam().cleaned);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanQuery,
    ::testing::Values(QueryCase{"", ""}, QueryCase{"utm_source=x&fbclid=y", ""},
                      QueryCase{"a=1&utm_source=x&b=2", "a=1&b=2"},
                      QueryCase{"a=1&utm_source=x&", "a=1&"}, QueryCase{"&&a=1", "&&a=1"},
                      QueryCase{"UTM_SOURCE=x&FBCLID=1&id=3", "id=3"},
                      QueryCase{"utm%5Fsource=x&k=v", "k=v"}, QueryCase{"utm+source=x", "utm+source=x"},
                      QueryCase{"flag&gclid", "flag"}, QueryCase{"?utm_source=x", "?utm_source=x"},
                      QueryCase{"utm_source", ""}, QueryCase{"a=utm_source", "a=utm_source"},
                      QueryCase{"x=1&x=2", "x=1&x=2"}));

TEST(CleanUrl, SeparatesRemovedAndKeptParameters) {
  const auto r = clean_url("https://e.com/p?a=1&utm_source=news&b=2&a=3&flag&fbclid=z");
  EXPECT_EQ(r.url, "https://e.com/p?a=1&b=2&a=3&flag");
  using Entries = std::vector<ParamMap::Entry>;
  EXPECT_EQ(Entries(r.removed_params.begin(), r.removed_params.end()),
            (Entries{{"fbclid", "z"}, {"utm_source", "news"}}));
  EXPECT_EQ(Entries(r.cleaned_params.begin(), r.cleaned_params.end()), (Entries{{"a", "3"}, {"b", "2"}}));
}

TEST(CleanUrl, WithoutQueryIsUnchanged) {
  const auto r = clean_url("https://e.com/p#frag");
  EXPECT_EQ(r.url, "https://e.com/p#frag");
  EXPECT_TRUE(r.removed_params.empty());
  EXPECT_TRUE(r.cleaned_params.empty());
}

TEST(CleanUrl, OnlyTrackingGivesBaseWithoutQuestionMark) {
  EXPECT_EQ(clean_url("https://e.com/?utm_source=a&utm_medium=b").url, "https://e.com/");
  EXPECT_EQ(clean_url("https://e.com/?").url, "https://e.com/");
}

// The fragment is cut off before the query is looked at and comes back
// unchanged; it is in neither map.
struct FragmentCase {
  std::string_view url;
  std::string_view cleaned;
  std::vector<ParamMap::Entry> removed;
  std::vector<ParamMap::Entry> kept;
};

class CleanUrlFragment : public ::testing::TestWithParam<FragmentCase> {};

TEST_P(CleanUrlFragment, StaysOutOfTheQuery) {
  const auto r = clean_url(GetParam().url);
  EXPECT_EQ(r.url, GetParam().cleaned);
  EXPECT_EQ(std::vector<ParamMap::Entry>(r.removed_params.begin(), r.removed_params.end()), GetParam().removed);
  EXPECT_EQ(std::vector<ParamMap::Entry>(r.cleaned_params.begin(), r.cleaned_params.end()), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanUrlFragment,
    ::testing::Values(
        FragmentCase{"https://shop.example/p?utm_source=x#reviews", "https://shop.example/p#reviews",
                     {{"utm_source", "x"}}, {}},
        FragmentCase{"/list?page=2#comments", "/list?page=2#comments", {}, {{"page", "2"}}},
        FragmentCase{"https://e.com/?a=1&utm_source=x#top", "https://e.com/?a=1#top", {{"utm_source", "x"}},
                     {{"a", "1"}}},
        // a "#" before any "?" leaves no query: the "?" belongs to the fragment
        FragmentCase{"https://e.com/p#frag?utm_source=x", "https://e.com/p#frag?utm_source=x", {}, {}},
        FragmentCase{"/p?a=1#x#y&utm_source=z", "/p?a=1#x#y&utm_source=z", {}, {{"a", "1"}}},
        FragmentCase{"/p?fbclid=1#", "/p#", {{"fbclid", "1"}}, {}},
        FragmentCase{"/p?#utm_source=x", "/p#utm_source=x", {}, {}},
        FragmentCase{"#?utm_source=x", "#?utm_source=x", {}, {}}));

TEST(CleanUrl, KeysInAnyOrderGiveSortedMapsWithTheLastValue) {
  std::string url = "/p?";
  for (int i = 999; i >= 0; --i) {
    url += "k" + std::to_string(i % 500) + "=" + std::to_string(i) + "&utm_id=" + std::to_string(i) + "&";
  }
  const auto r = clean_url(url);
  ASSERT_EQ(r.cleaned_params.size(), 500u);
  EXPECT_TRUE(std::is_sorted(r.cleaned_params.begin(), r.cleaned_params.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));
  // "k7" arrives with 507 first, then with 7
  ASSERT_NE(r.cleaned_params.find("k7"), nullptr);
  EXPECT_EQ(*r.cleaned_params.find("k7"), "7");
  ASSERT_EQ(r.removed_params.size(), 1u);
  EXPECT_EQ(*r.removed_params.find("utm_id"), "0");
}

// Keys are sorted eight bytes at a time; what a map keyed by the text gives
// (the last value of a key wins) is the reference, for keys that share long
// prefixes, end inside a group of eight bytes, hold NUL and high bytes, or
// repeat.
TEST(ParamMapOrder, MatchesAnOrderedMapForAnyKeys) {
  std::mt19937 random(8);
  const std::string_view alphabet("\0a\x7F\x80\xFFz", 6);
  for (std::size_t count : {0u, 1u, 2u, 31u, 33u, 200u, 3000u}) {
    for (int round = 0; round < 4; ++round) {
      std::vector<std::string> keys;
      for (std::size_t i = 0; i < count; ++i) {
        std::string key(random() % 3 == 0 ? 16 + random() % 9 : 0, 'p');  // a long shared prefix
        for (std::size_t n = random() % (round == 0 ? 3 : 12); n > 0; --n) key += alphabet[random() % alphabet.size()];
        keys.push_back(std::move(key));
      }
      std::vector<ParamMap::Entry> pieces;
      std::map<std::string_view, std::string_view> reference;
      const std::string values = "0123456789";
      for (std::size_t i = 0; i < keys.size(); ++i) {
        pieces.emplace_back(keys[i], std::string_view(values).substr(i % 10, 1));
        reference.insert_or_assign(pieces.back().first, pieces.back().second);
      }
      const ParamMap map(std::move(pieces));
      ASSERT_EQ(std::vector<ParamMap::Entry>(map.begin(), map.end()),
                std::vector<ParamMap::Entry>(reference.begin(), reference.end()))
          << count << " keys, round " << round;
    }
  }
}

TEST(CleanUrl, RawKeysAreRecordedUndecoded) {
  const auto r = clean_url("/p?utm%5Fsource=1&a%20b=2&=3");
  EXPECT_EQ(r.url, "/p?a%20b=2&=3");
  EXPECT_NE(r.removed_params.find("utm%5Fsource"), nullptr);
  EXPECT_NE(r.cleaned_params.find("a%20b"), nullptr);
  EXPECT_NE(r.cleaned_params.find(""), nullptr);
  EXPECT_EQ(r.removed_params.find("a%20b"), nullptr);
}

// Random queries of "a", "&" and "=" up to three blocks long (delimiters are
// searched sixteen bytes at a time), against a split by hand.
TEST(QueryPieces, AgreeWithASplitAtEveryAmpersand) {
  std::mt19937 random(2024);
  std::uniform_int_distribution<std::size_t> length(0, 48);
  std::uniform_int_distribution<int> byte(0, 5);
  for (int round = 0; round < 20000; ++round) {
    std::string query;
    for (std::size_t k = length(random); k > 0; --k) {
      const int b = byte(random);
      query += b == 0 ? '&' : b == 1 ? '=' : 'a';
    }
    std::vector<std::string> expected;
    std::size_t start = 0;
    for (std::size_t end = 0;; start = end + 1) {
      end = std::min(query.find('&', start), query.size());
      const std::string piece = query.substr(start, end - start);
      const std::size_t eq = piece.find('=');
      expected.push_back(piece + "|" + std::to_string(eq == std::string::npos ? piece.size() : eq) +
                         (eq == std::string::npos ? "" : "="));
      if (end == query.size()) break;
    }
    std::vector<std::string> pieces;
    for_each_query_piece(query, [&](const QueryPiece& piece) {
      pieces.push_back(std::string(piece.text) + "|" + std::to_string(piece.key_length) + (piece.has_value ? "=" : ""));
    });
    ASSERT_EQ(pieces, expected) << query;
  }
}

}  // namespace
}  // namespace quarlo
