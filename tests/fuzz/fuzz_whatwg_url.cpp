// Fuzzes the URL parser. Beyond not crashing, a successful parse must
// serialise to ASCII-only (hence valid UTF-8) text that parses again to the
// same record, and a failure must carry one of the known descriptions.
// The input is also taken as a host: the ASCII fast path of the host parser
// must agree with the general path (which asks ICU about non-ASCII domains
// only) and with what parse() makes of "http://" + host, and a host that is
// ASCII once percent-decoded must come out lower-cased or fail one of the
// checks that follow domain to ASCII.
#include "core/whatwg_url.hpp"
#include "core/whatwg_url_internal.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

using quarlo::whatwg::parse;
using quarlo::whatwg::Url;

[[noreturn]] void fail(const char* what, std::string_view input, std::string_view detail) {
  std::fprintf(stderr, "%s\n  input:  %.*s\n  detail: %.*s\n", what, static_cast<int>(input.size()), input.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

bool is_ascii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool is_known_failure(std::string_view d) {
  return d == "relative URL without a base" || d == "empty host" || d == "invalid port number" ||
         d == "invalid IPv4 address" || d == "invalid IPv6 address" || d == "invalid domain character" ||
         d == "invalid international domain name";
}

bool same_record(const Url& a, const Url& b) {
  return a.scheme == b.scheme && a.username == b.username && a.password == b.password && a.host == b.host &&
         a.port == b.port && a.path == b.path && a.opaque_path == b.opaque_path && a.query == b.query &&
         a.fragment == b.fragment;
}

// Printable ASCII without the bytes that end a host or start a port: the
// authority of "http://" + s is then all host.
bool is_plain_host(std::string_view s) {
  if (s.empty()) return false;  // "http:///" has an empty host
  for (const char c : s) {
    if (c <= 0x20 || c >= 0x7F || std::string_view("/?#\\@:[]").find(c) != std::string_view::npos) return false;
  }
  return true;
}

std::string percent_decode(std::string_view s) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool is_forbidden_domain_byte(char c) {
  return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F ||
         std::string_view("#%/:<>?@[\\]^|").find(c) != std::string_view::npos;
}

// Domain to ASCII only lower-cases an ASCII domain; then an empty or
// forbidden domain fails, and one that ends in a number becomes an IPv4
// address or fails as one.
void check_ascii_host_rule(std::string_view input, std::string_view failure, const std::string& host) {
  if (!input.empty() && input.front() == '[') return;  // IPv6
  std::string domain = percent_decode(input);
  if (!is_ascii(domain)) return;
  for (char& c : domain) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
  bool forbidden = false;
  for (const char c : domain) forbidden = forbidden || is_forbidden_domain_byte(c);
  if (domain.empty()) {
    if (failure != "invalid international domain name") fail("empty ASCII domain accepted", input, failure);
  } else if (forbidden) {
    if (failure != "invalid domain character") fail("forbidden ASCII domain accepted", input, failure);
  } else if (failure.empty()) {
    if (host != domain && host.find_first_not_of("0123456789.") != std::string::npos) {
      fail("ASCII domain not only lower-cased", input, host);
    }
  } else if (failure != "invalid IPv4 address") {
    fail("ASCII domain rejected", input, failure);
  }
}

void check_host_fast_path(std::string_view input) {
  std::string fast;
  std::string general;
  const std::string_view fast_failure = quarlo::whatwg::internal::parse_special_host(input, fast, true);
  const std::string_view general_failure = quarlo::whatwg::internal::parse_special_host(input, general, false);
  if (fast_failure != general_failure) fail("host fast path fails differently", input, fast_failure);
  if (fast_failure.empty() && fast != general) {
    fail("host fast path differs from the general path", input, fast + " vs " + general);
  }
  check_ascii_host_rule(input, fast_failure, fast);
  if (!is_plain_host(input)) return;
  const auto url = parse("http://" + std::string(input) + "/");
  if (url ? !fast_failure.empty() || *url.url->host != fast : url.failure != fast_failure) {
    fail("host differs inside a URL", input, url ? *url.url->host : std::string(url.failure));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  check_host_fast_path(input);
  const auto first = parse(input);
  if (!first) {
    if (!is_known_failure(first.failure)) fail("unknown failure description", input, first.failure);
    return 0;
  }
  const std::string href = first.url->href();
  if (!is_ascii(href)) fail("href is not ASCII", input, href);
  if (first.url->scheme.empty()) fail("empty scheme", input, href);

  const auto second = parse(href);
  if (!second) fail("href does not parse again", input, href + " -> " + std::string(second.failure));
  const std::string again = second.url->href();
  if (again != href) fail("href is not stable", input, href + " -> " + again);
  if (!same_record(*first.url, *second.url)) fail("record changes on re-parse", input, href);
  return 0;
}
