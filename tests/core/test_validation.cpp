// Tests of the payload validation rules.
#include "core/validation/validation.hpp"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quarlo {
namespace {

// A payload that passes every check.
SEOPayload passing() {
  SEOPayload p;
  p.title = std::string(40, 't');
  p.description = std::string(120, 'd');
  p.canonical = "https://example.com/a";
  p.robots = "index,follow";
  p.og.type = "article";
  p.og.image = "https://example.com/a.png";
  p.twitter.card = "summary_large_image";
  return p;
}

struct Expected {
  std::string rule_id;
  std::string message;
  Json details = Json::object();
};

struct Case {
  const char* name;
  std::function<void(SEOPayload&)> shape;
  std::vector<Expected> expected;
};

std::string PrintName(const ::testing::TestParamInfo<Case>& param_info) { return param_info.param.name; }

class Rules : public ::testing::TestWithParam<Case> {};

TEST_P(Rules, ReportInCheckOrder) {
  SEOPayload p = passing();
  GetParam().shape(p);
  const std::vector<SEOIssue> issues = validate(p);
  ASSERT_EQ(issues.size(), GetParam().expected.size());
  for (std::size_t i = 0; i < issues.size(); ++i) {
    const Expected& e = GetParam().expected[i];
    EXPECT_EQ(issues[i].rule_id, e.rule_id) << i;
    EXPECT_EQ(issues[i].message, e.message) << i;
    EXPECT_EQ(issues[i].details, e.details) << i;
    EXPECT_EQ(issues[i].severity, Severity::Warning);
    EXPECT_EQ(issues[i].url, p.canonical);
  }
}

const std::string kTwoByte40 = [] {
  std::string s;
  for (int i = 0; i < 40; ++i) s += "\xC3\xA9";
  return s;
}();

INSTANTIATE_TEST_SUITE_P(
    Validation, Rules,
    ::testing::Values(
        Case{"Passing", [](SEOPayload&) {}, {}},
        Case{"Title60", [](SEOPayload& p) { p.title = std::string(60, 'x'); }, {}},
        Case{"Title61", [](SEOPayload& p) { p.title = std::string(61, 'x'); },
             {{"QUARLO102", "Title is 61 characters (recommended max 60)", Json::object({{"length", 61}})}}},
        Case{"TitleCountsCharacters", [](SEOPayload& p) { p.title = kTwoByte40; }, {}},
        Case{"TitleUntitled", [](SEOPayload& p) { p.title = "Untitled"; },
             {{"QUARLO101", "Title is missing or default"}}},
        Case{"TitleLowerUntitled", [](SEOPayload& p) { p.title = "untitled"; }, {}},
        Case{"TitleTemplatedUntitled", [](SEOPayload& p) { p.title = "Untitled | Site"; }, {}},
        Case{"TitleEmpty", [](SEOPayload& p) { p.title = ""; }, {{"QUARLO101", "Title is missing or default"}}},
        Case{"Description160", [](SEOPayload& p) { p.description = std::string(160, 'x'); }, {}},
        Case{"Description161", [](SEOPayload& p) { p.description = std::string(161, 'x'); },
             {{"QUARLO104", "Meta description is 161 characters (recommended max 160)",
               Json::object({{"length", 161}})}}},
        Case{"DescriptionEmpty", [](SEOPayload& p) { p.description = ""; },
             {{"QUARLO103", "Meta description is missing"}}},
        Case{"CanonicalPath", [](SEOPayload& p) { p.canonical = "/a"; },
             {{"QUARLO105", "Canonical URL is not absolute"}}},
        Case{"CanonicalShort", [](SEOPayload& p) { p.canonical = "http:/"; },
             {{"QUARLO105", "Canonical URL is not absolute"}}},
        Case{"CanonicalUpperCaseSchemeIsAbsolute", [](SEOPayload& p) { p.canonical = "HTTPS://example.com/"; },
             {}},
        Case{"ImageMissing", [](SEOPayload& p) { p.og.image.reset(); },
             {{"QUARLO108", "OG image is missing; set default_og_image or an entity image"}}},
        Case{"ImageRelative", [](SEOPayload& p) { p.og.image = "/a.png"; },
             {{"QUARLO106", "OG image URL is not absolute", Json::object({{"image", "/a.png"}})}}},
        Case{"ImageUpperCaseScheme", [](SEOPayload& p) { p.og.image = "Http://cdn.example.com/a.png"; }, {}},
        Case{"RobotsSpacesTrimmed", [](SEOPayload& p) { p.robots = "noindex, nofollow"; }, {}},
        Case{"RobotsUnicodeSpacesTrimmed", [](SEOPayload& p) { p.robots = "noindex,\xE3\x80\x80nofollow"; }, {}},
        Case{"RobotsLimits",
             [](SEOPayload& p) { p.robots = "max-snippet:-1,max-image-preview:large,max-video-preview:-1"; }, {}},
        Case{"RobotsUnknown", [](SEOPayload& p) { p.robots = "index,follow,noimageindex"; },
             {{"QUARLO107", "Invalid robots directive: 'noimageindex'",
               Json::object({{"directive", "noimageindex"}})}}},
        Case{"RobotsCaseSensitive", [](SEOPayload& p) { p.robots = "NOINDEX"; },
             {{"QUARLO107", "Invalid robots directive: 'NOINDEX'", Json::object({{"directive", "NOINDEX"}})}}},
        Case{"RobotsValueKept", [](SEOPayload& p) { p.robots = "index, bogus : x "; },
             {{"QUARLO107", "Invalid robots directive: 'bogus : x'", Json::object({{"directive", "bogus : x"}})}}},
        Case{"RobotsEmpty", [](SEOPayload& p) { p.robots = ""; },
             {{"QUARLO107", "Invalid robots directive: ''", Json::object({{"directive", ""}})}}},
        Case{"EverythingFails",
             [](SEOPayload& p) {
               p.title = "";
               p.description = "";
               p.canonical = "";
               p.og.image.reset();
               p.robots = "a,,index";
             },
             {{"QUARLO101", "Title is missing or default"},
              {"QUARLO103", "Meta description is missing"},
              {"QUARLO105", "Canonical URL is not absolute"},
              {"QUARLO108", "OG image is missing; set default_og_image or an entity image"},
              {"QUARLO107", "Invalid robots directive: 'a'", Json::object({{"directive", "a"}})},
              {"QUARLO107", "Invalid robots directive: ''", Json::object({{"directive", ""}})}}}),
    PrintName);

TEST(Severity, Names) {
  EXPECT_EQ(severity_name(Severity::Error), "error");
  EXPECT_EQ(severity_name(Severity::Warning), "warning");
  EXPECT_EQ(severity_name(Severity::Info), "info");
  EXPECT_EQ(severity_serialized_name(Severity::Error), "Error");
  EXPECT_EQ(severity_serialized_name(Severity::Warning), "Warning");
  EXPECT_EQ(severity_serialized_name(Severity::Info), "Info");
}

}  // namespace
}  // namespace quarlo
