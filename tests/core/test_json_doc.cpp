#include "core/base/json_doc.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/json.hpp"

namespace quarlo {
namespace {

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string pretty_from_text(std::string_view compact, std::size_t level) {
  std::string out = "prefix";
  append_pretty_json_text(out, compact, level);
  return out.substr(6);
}

std::string pretty_from_value(const Json& value, std::size_t level) {
  std::string out;
  append_json(out, value, JsonLayout::Pretty, level);
  return out;
}

// Documents whose texts exercise every branch of the layout: nesting, empty
// containers, strings holding structural characters, quotes, backslashes,
// escapes, script-breaking sequences and non-ASCII text, and numbers of
// every kind.
const std::vector<Json>& documents() {
  static const std::vector<Json> all = [] {
    std::vector<Json> d;
    d.push_back(Json(nullptr));
    d.push_back(Json(true));
    d.push_back(Json("plain"));
    d.push_back(Json(std::int64_t{-42}));
    d.push_back(Json::object());
    d.push_back(Json::array());
    d.push_back(Json::array({Json::object(), Json::array(), Json::array({Json::array()}), Json::object({{"", Json::object()}})}));
    d.push_back(Json{{"@type", "Article"},
                     {"headline", "{\"a\":[1,2]}, [x]: y"},
                     {"author", Json{{"@type", "Person"}, {"name", "O'Brien \"Bob\" \\ back"}}},
                     {"keywords", Json::array({"a,b", "c:d", "}", "]", "{", "["})}});
    d.push_back(Json{{"ctl", std::string("\b\t\n\f\r\x01\x1f\x7f", 8)}, {"slash", "a/b\\/c"}});
    d.push_back(Json{{"x", "</script><!--<script>"}, {"</k", Json::array({"<!--", "</", "<<//", "<!-"})}});
    d.push_back(Json{{"utf8", "caf\xc3\xa9 \xe2\x80\xa8 \xf0\x9f\x98\x80"}, {"\xc3\xa9", "key"}});
    d.push_back(Json::array({0, -1, std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::int64_t>::min(),
                             1.5, 0.0, -0.0, 1e16, 1.5e-6, 1e-5, 123456789012345.6, 0.1, -2.5e300, 5e-324}));
    const Json inner = Json{{"d", Json::array({1, Json::object()})}};
    const Json middle = Json{{"c", Json::array({inner})}};
    d.push_back(Json{{"a", Json{{"b", middle}}}, {"z", false}});
    return d;
  }();
  return all;
}

TEST(JsonDocText, CompactPrettyAndValueAgreeWithTheWriter) {
  for (const Json& value : documents()) {
    const JsonDoc doc = JsonDoc::from_value(value);
    const std::string compact = write_json(value, JsonLayout::Compact);
    EXPECT_EQ(doc.text(), compact);
    for (const std::size_t level : {0u, 1u, 3u}) {
      EXPECT_EQ(pretty_from_text(doc.text(), level), pretty_from_value(value, level)) << compact;
    }
    // The value reads back whole: equal, and written again to the same text.
    const Json back = doc.value();
    EXPECT_EQ(back, value) << compact;
    EXPECT_EQ(write_json(back, JsonLayout::Compact), compact);
    // The script layout is the pretty text with both sequences rewritten.
    const std::string pretty = write_json(value, JsonLayout::Pretty);
    std::string script;
    append_pretty_json_text_for_script(script, doc.text());
    EXPECT_EQ(script, replace_all(replace_all(pretty, "</", "<\\/"), "<!--", "\\u003c!--")) << compact;
  }
}

// Strings of every length around the sixteen-byte blocks of the copy, with
// a quote, a backslash escape or a script-breaking sequence at every
// position, against the writer's layout. Each text sits in a buffer of its
// own size, so that a read or write past either end is caught by the address
// sanitizer.
TEST(JsonDocText, StringsOfAnyLengthWithSpecialsAnywhere) {
  const std::vector<std::string> specials = {"\"", "\\", "</", "<!--", "<", "<!-"};
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      std::string s(length, 'x');
      s.insert(at, specials[(length + at) % specials.size()]);
      const Json value = Json::array({s, Json{{s, s}}});
      const std::string compact = write_json(value, JsonLayout::Compact);
      const std::vector<char> exact(compact.begin(), compact.end());
      const std::string_view text(exact.data(), exact.size());
      for (const std::size_t level : {0u, 9u}) {
        ASSERT_EQ(pretty_from_text(text, level), pretty_from_value(value, level)) << compact;
      }
      std::string script;
      append_pretty_json_text_for_script(script, text);
      const std::string pretty = write_json(value, JsonLayout::Pretty);
      ASSERT_EQ(script, replace_all(replace_all(pretty, "</", "<\\/"), "<!--", "\\u003c!--")) << compact;
    }
  }
}

// Text cut anywhere (inside a string, after a backslash, inside a number)
// is laid out as far as it goes, never past its end.
TEST(JsonDocText, CutTextStaysInsideItsBuffer) {
  const std::string whole = R"({"a":["x\"y</z",12.5e3,{"b":[]}],"<!--":"\u00e9 long enough to span blocks"})";
  for (std::size_t size = 0; size <= whole.size(); ++size) {
    const std::vector<char> exact(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    const std::string_view text(exact.data(), exact.size());
    std::string pretty;
    append_pretty_json_text(pretty, text);
    std::string script;
    append_pretty_json_text_for_script(script, text);
    EXPECT_LE(text.size(), pretty.size() + 1) << size;
    EXPECT_LE(pretty.size(), script.size()) << size;
  }
}

// The layout byte by byte, as plainly as it can be said: the reference for
// texts of any shape, canonical or not.
std::string reference_layout(std::string_view t, std::size_t depth, bool script) {
  std::string out;
  const auto line_break = [&] {
    out += '\n';
    out.append(2 * depth, ' ');
  };
  for (std::size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '"') {  // to the closing quote; a backslash takes the next byte along
      out += c;
      for (++i; i < t.size(); ++i) {
        if (t[i] == '\\') {
          out += t[i];
          if (++i < t.size()) out += t[i];
        } else if (script && t.substr(i, 2) == "</") {
          out += "<\\/";
          ++i;
        } else if (script && t.substr(i, 4) == "<!--") {
          out += "\\u003c!--";
          i += 3;
        } else {
          out += t[i];
          if (t[i] == '"') break;
        }
      }
    } else if (c == '{' || c == '[') {
      out += c;
      if (i + 1 < t.size() && t[i + 1] == (c == '{' ? '}' : ']')) {
        out += t[++i];
      } else {
        ++depth;
        line_break();
      }
    } else if (c == '}' || c == ']') {
      if (depth > 0) --depth;
      line_break();
      out += c;
    } else if (c == ',') {
      out += c;
      line_break();
    } else {
      out += c == ':' ? ": " : std::string(1, c);
    }
  }
  return out;
}

// Both layouts of `text` against the reference, the text in a buffer of its
// own size so that the address sanitizer catches a read past its end.
void expect_layouts_match_reference(const std::string& text) {
  const std::vector<char> exact(text.begin(), text.end());
  const std::string_view view(exact.data(), exact.size());
  for (const std::size_t level : {0u, 3u}) {
    ASSERT_EQ(pretty_from_text(view, level), reference_layout(text, level, false)) << text;
  }
  std::string script;
  append_pretty_json_text_for_script(script, view);
  ASSERT_EQ(script, reference_layout(text, 0, true)) << text;
}

std::string repeated(std::string_view unit, std::size_t count) {
  std::string s;
  for (std::size_t i = 0; i < count; ++i) s += unit;
  return s;
}

// Texts whose strings end, escape or hold '<' on either side of the 64-byte
// masks, after runs of backslashes of odd and even length, plus texts that
// are not JSON at all: cut, unbalanced, a backslash or '<' outside strings,
// deep nesting.
TEST(JsonDocText, AnyTextLaysOutAsTheReference) {
  const std::vector<std::string> inserts = {"\"",     "\\\"",  "\\\\\"", "\\\\\\\"", "\\",   "\\\\",
                                            "<",      "</",    "<!--",   "\\<",      "\\</", "<\\/",
                                            "\":\"",  "\",\"", "\\u0022", "]",       "{}",   "x\\"};
  for (std::size_t length = 0; length <= 140; ++length) {
    for (std::size_t at = 0; at <= length; at += (length > 70 ? 3 : 1)) {
      std::string s(length, 'a');
      s.insert(at, inserts[(length + at) % inserts.size()]);
      expect_layouts_match_reference("[\"" + s + "\",{\"" + s + "\":[1,\"" + s + "\"]}]");
      expect_layouts_match_reference("\"" + s);  // cut inside the string
    }
  }
  const std::vector<std::string> shapes = {
      "",
      "\"",
      "\\\"x\",[",
      "a\\\"[,]\":<",
      repeated("[", 200) + repeated("]", 210),
      repeated("{\"k\":", 100) + "1" + repeated("}", 90),
      repeated("\"", 301),
      "[\"" + repeated("\\", 129) + "\",\"" + repeated("\\", 128) + "\"]",
      "[\"" + repeated("<", 130) + "/" + repeated("<!--", 40) + "\"]",
      repeated("\"a\":[],", 40),
      repeated("[]{}", 50) + "[" + repeated(",", 70),
      repeated(":", 130) + "\"" + repeated(":", 130),
  };
  for (const std::string& text : shapes) expect_layouts_match_reference(text);

  std::mt19937 rng(2024);
  const std::string_view alphabet = "\"\"\\\\<<!-/{}[],:ax0 ";
  for (int round = 0; round < 3000; ++round) {
    std::string text(rng() % 300, 'a');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    expect_layouts_match_reference(text);
  }
}

TEST(JsonDocValue, NumbersKeepTheParsersTypes) {
  const Json back = JsonDoc::from_canonical("[5,-5,18446744073709551615,1.0,-0.0,1e+16]").value();
  EXPECT_TRUE(back[0].is_number_unsigned());
  EXPECT_TRUE(back[1].is_number_integer() && !back[1].is_number_unsigned());
  EXPECT_EQ(back[2].get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_TRUE(back[3].is_number_float());
  EXPECT_TRUE(std::signbit(back[4].get<double>()));
  EXPECT_EQ(back[5].get<double>(), 1e16);
}

TEST(JsonDocValue, ReadsAnyDepthAndAnyBytes) {
  // Far deeper than the parser accepts, and in strings bytes that are not
  // UTF-8: documents built in code may hold either.
  constexpr std::size_t kDepth = 20000;
  std::string text(kDepth, '[');
  text += "\"\xff\xfe\"";
  text.append(kDepth, ']');
  const Json back = JsonDoc::from_canonical(text).value();
  const Json* at = &back;
  for (std::size_t i = 0; i < kDepth; ++i) {
    ASSERT_TRUE(at->is_array() && at->size() == 1u) << i;
    at = &(*at)[0];
  }
  EXPECT_EQ(*at, Json("\xff\xfe"));
  EXPECT_EQ(JsonDoc::from_value(back).text(), text);
  EXPECT_EQ(pretty_from_text(text, 0), pretty_from_value(back, 0));
}

struct EqualityCase {
  const char* a;
  const char* b;
  bool equal;
};

TEST(JsonDocEquality, ComparesAsJsonValues) {
  const EqualityCase cases[] = {
      {"1", "1", true},
      {"1", "1.0", true},
      {"0.0", "-0.0", true},
      {"{\"n\":[1,2.0]}", "{\"n\":[1.0,2]}", true},
      {"1", "2", false},
      {"\"1\"", "1", false},
      {"{}", "[]", false},
      {"{\"a\":1}", "{\"a\":1,\"b\":null}", false},
      {"null", "false", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonDoc::from_canonical(c.a) == JsonDoc::from_canonical(c.b), c.equal) << c.a << " vs " << c.b;
    EXPECT_EQ(JsonDoc::from_canonical(c.b) == JsonDoc::from_canonical(c.a), c.equal) << c.b << " vs " << c.a;
  }
  EXPECT_EQ(JsonDoc(), JsonDoc::from_value(Json(nullptr)));
}

}  // namespace
}  // namespace quarlo
