// Fuzzes the URL parser. Beyond not crashing, a successful parse must
// serialise to ASCII-only (hence valid UTF-8) text that parses again to the
// same record, and a failure must carry one of the known descriptions.
// The input is also taken as a host: the ASCII fast path of the host parser
// must agree with the general path (which asks ICU about non-ASCII domains
// only) and with what parse() makes of "http://" + host, and a host that is
// ASCII once percent-decoded must come out lower-cased or fail one of the
// checks that follow domain to ASCII. Taken as a domain, the input must
// convert the same whether ICU sees it whole or a few labels at a time.
#include "core/base/unicode.hpp"
#include "core/url/whatwg_url.hpp"
#include "core/url/whatwg_url_internal.hpp"

#include <algorithm>
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

namespace descriptions = quarlo::whatwg::failure;
using quarlo::is_ascii;

bool is_known_failure(std::string_view d) {
  return std::find(descriptions::kAll.begin(), descriptions::kAll.end(), d) != descriptions::kAll.end();
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

bool is_forbidden_domain_byte(char c) {
  return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F ||
         std::string_view("#%/:<>?@[\\]^|").find(c) != std::string_view::npos;
}

// Domain to ASCII only lower-cases an ASCII domain; then an empty or
// forbidden domain fails, and one that ends in a number becomes an IPv4
// address or fails as one.
void check_ascii_host_rule(std::string_view input, std::string_view failure, const std::string& host) {
  if (!input.empty() && input.front() == '[') return;  // IPv6
  std::string domain;
  quarlo::whatwg::percent_decode(input, domain);
  if (!is_ascii(domain)) return;
  for (char& c : domain) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
  bool forbidden = false;
  for (const char c : domain) forbidden = forbidden || is_forbidden_domain_byte(c);
  if (domain.empty()) {
    if (failure != descriptions::kBadIdn) fail("empty ASCII domain accepted", input, failure);
  } else if (forbidden) {
    if (failure != descriptions::kBadDomainChar) fail("forbidden ASCII domain accepted", input, failure);
  } else if (failure.empty()) {
    if (host != domain && host.find_first_not_of("0123456789.") != std::string::npos) {
      fail("ASCII domain not only lower-cased", input, host);
    }
  } else if (failure != descriptions::kBadIpv4) {
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

// ICU takes a domain a few labels at a time; any split must give what one
// call on the whole domain gives.
void check_uts46_splits(std::string_view input) {
  if (!quarlo::is_valid_utf8(input)) return;
  std::string whole;
  const std::string_view whole_failure = quarlo::whatwg::internal::uts46_to_ascii(input, whole, 0);
  for (const std::size_t labels_per_call : {1U, 2U, 3U, 32U}) {
    std::string split;
    const std::string_view split_failure = quarlo::whatwg::internal::uts46_to_ascii(input, split, labels_per_call);
    if (split_failure != whole_failure) fail("UTS #46 in pieces fails differently", input, split_failure);
    if (whole_failure.empty() && split != whole) fail("UTS #46 in pieces differs", input, split + " vs " + whole);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  check_host_fast_path(input);
  check_uts46_splits(input);
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
