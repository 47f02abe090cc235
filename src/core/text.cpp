#include "core/text.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#include "core/unicode.hpp"

namespace quarlo {
namespace {

// Byte classes for the scan. Every byte >= 0x80 starts the Unicode path.
enum ByteClass : std::uint8_t { kPlain, kSpace, kOpen, kHigh };

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (std::size_t b = 0; b < 256; ++b) {
    if (b >= 0x80) {
      classes[b] = kHigh;
    } else if (b == ' ' || (b >= 0x09 && b <= 0x0D)) {
      classes[b] = kSpace;
    } else if (b == '<') {
      classes[b] = kOpen;
    } else {
      classes[b] = kPlain;
    }
  }
  return classes;
}

constexpr std::array<std::uint8_t, 256> kClasses = make_classes();

// The elements whose content is dropped; the closing tag is "/" + name.
enum class Skip : std::uint8_t { kNone, kStyle, kScript, kNoscript };

constexpr std::string_view kSkipped[] = {"", "style", "script", "noscript"};

std::string_view name_of(Skip skip) noexcept { return kSkipped[static_cast<std::size_t>(skip)]; }

// Lower-casing never maps a character to nothing, so a tag text of more
// scalar values than the longest text it is compared with ("/noscript", nine
// characters, at most four bytes each) can never match.
constexpr std::size_t kLongestMatchingTag = 9 * 4;

// The tag text lower-cased into `folded`, or false when it cannot equal any
// of the texts compared with: those are letters with at most a leading "/",
// and an ASCII character other than a letter keeps its value. ASCII tags are
// folded byte by byte; a tag with any byte >= 0x80 goes through the full
// Unicode mapping (U+212A KELVIN SIGN lower-cases to "k").
class FoldedTag {
 public:
  bool fold(std::string_view tag) {
    if (tag.size() > kLongestMatchingTag) return false;
    bool ascii = true;
    for (std::size_t i = 0; i < tag.size(); ++i) {
      const auto b = static_cast<unsigned char>(tag[i]);
      if (b >= 0x80) {
        ascii = false;
      } else if (b == '/') {
        ascii_[i] = '/';
      } else if ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') {
        ascii_[i] = static_cast<char>(b | 0x20);
      } else {
        return false;
      }
    }
    if (ascii) {
      text_ = std::string_view(ascii_.data(), tag.size());
    } else {
      unicode_ = to_lower(tag);
      text_ = unicode_;
    }
    return true;
  }

  [[nodiscard]] std::string_view text() const noexcept { return text_; }

 private:
  std::array<char, kLongestMatchingTag> ascii_{};
  std::string unicode_;
  std::string_view text_;
};

// The skipped element an opening tag text names, if any.
Skip opening_skip(std::string_view tag) {
  FoldedTag folded;
  if (!folded.fold(tag)) return Skip::kNone;
  for (const Skip skip : {Skip::kStyle, Skip::kScript, Skip::kNoscript}) {
    if (folded.text() == name_of(skip)) return skip;
  }
  return Skip::kNone;
}

// True when the tag text closes the element `skip` exactly ("/" + name).
bool closes(std::string_view tag, Skip skip) {
  const std::string_view name = name_of(skip);
  FoldedTag folded;
  if (!folded.fold(tag)) return false;
  const std::string_view text = folded.text();
  return text.size() == name.size() + 1 && text.front() == '/' && text.substr(1) == name;
}

// Every non-ASCII White_Space character lies in one of these ranges; the
// property itself is asked only for candidates. (A test walks the whole code
// space to keep this gate and is_white_space in agreement.)
bool may_be_white_space(char32_t cp) noexcept {
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x205F) || cp == 0x3000;
}

// True when the well-formed sequence of `length` bytes at `p` is White_Space.
bool sequence_is_white_space(const unsigned char* p, std::size_t length) noexcept {
  char32_t cp;
  if (length == 2) {
    cp = (static_cast<char32_t>(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
  } else if (length == 3) {
    cp = (static_cast<char32_t>(p[0] & 0x0F) << 12) | (static_cast<char32_t>(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
  } else {
    return false;  // nothing in the four-byte planes is White_Space
  }
  return may_be_white_space(cp) && is_white_space(cp);
}

}  // namespace

// One pass over the bytes. Text is copied straight into the output; each
// run of white space (tags count as a space) is written as a single " " the
// first time it is met, unless the output is still empty or already ends in
// that space. The output holds " " only as such a separator, so the trailing
// one, if any, is the whole of the trimming left to do at the end. The
// output is never longer than the input: every byte is copied at most once,
// a tag ("<" at least) becomes at most one space, and a white-space run one.
std::string html_to_text(std::string_view html) {
  std::string out;
  out.resize(html.size());
  char* const start = out.data();
  char* w = start;
  const auto* const s = reinterpret_cast<const unsigned char*>(html.data());
  const std::size_t n = html.size();
  std::size_t i = 0;
  Skip skip = Skip::kNone;

  const auto separate = [&]() {
    if (w != start && w[-1] != ' ') *w++ = ' ';
  };

  while (i < n) {
    if (skip != Skip::kNone) {
      // Drop everything up to a tag that closes the element exactly.
      const void* lt = std::memchr(s + i, '<', n - i);
      if (lt == nullptr) break;
      const std::size_t tag_begin = static_cast<std::size_t>(static_cast<const unsigned char*>(lt) - s) + 1;
      const void* gt = std::memchr(s + tag_begin, '>', n - tag_begin);
      if (gt == nullptr) break;  // the tag runs to the end: nothing more to copy
      const std::size_t tag_end = static_cast<std::size_t>(static_cast<const unsigned char*>(gt) - s);
      if (closes(html.substr(tag_begin, tag_end - tag_begin), skip)) skip = Skip::kNone;
      i = tag_end + 1;
      continue;
    }

    const unsigned char c = s[i];
    switch (kClasses[c]) {
      case kPlain:
        *w++ = static_cast<char>(c);
        ++i;
        // Stay in a tight loop over ordinary ASCII.
        while (i < n && kClasses[s[i]] == kPlain) *w++ = static_cast<char>(s[i++]);
        break;
      case kSpace:
        separate();
        ++i;
        break;
      case kOpen: {
        const std::size_t tag_begin = i + 1;
        const void* gt = std::memchr(s + tag_begin, '>', n - tag_begin);
        if (gt == nullptr) {
          // An unclosed tag runs to the end of the input and ends the scan;
          // whatever it is, nothing visible would follow.
          i = n;
          break;
        }
        const std::size_t tag_end = static_cast<std::size_t>(static_cast<const unsigned char*>(gt) - s);
        skip = opening_skip(html.substr(tag_begin, tag_end - tag_begin));
        if (skip == Skip::kNone) separate();
        i = tag_end + 1;
        break;
      }
      default: {  // kHigh
        std::size_t length = 0;
        if (utf8_sequence(html, i, length) && sequence_is_white_space(s + i, length)) {
          separate();
        } else {
          // A character, or an ill-formed sequence, copied as it stands.
          std::memcpy(w, s + i, length);
          w += length;
        }
        i += length;
        break;
      }
    }
  }

  if (w != start && w[-1] == ' ') --w;
  out.resize(static_cast<std::size_t>(w - start));
  return out;
}

std::optional<std::string> build_description_snippet(std::optional<std::string_view> html, std::size_t max_chars) {
  if (!html) return std::nullopt;
  std::string text = html_to_text(*html);
  if (text.empty()) return std::nullopt;

  static constexpr std::string_view kEllipsis = "...";
  const std::size_t keep = max_chars >= kEllipsis.size() ? max_chars - kEllipsis.size() : 0;
  // Walk at most max_chars + 1 characters, remembering where the kept
  // prefix ends; a text that runs out first is short enough as it is.
  std::size_t cut = 0;
  std::size_t count = 0;
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if (count == keep) cut = i;
    if (count == max_chars) {
      text.resize(cut);
      text.append(kEllipsis);
      return text;
    }
    (void)utf8_sequence(text, i, length);
    ++count;
  }
  return text;
}

}  // namespace quarlo
