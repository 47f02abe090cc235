// A URL parser following the WHATWG URL Standard, for absolute URLs parsed
// without a base URL. Non-ASCII domains go through UTS #46 (ICU); ASCII ones,
// "xn--" labels included, are only lower-cased.
//
// This is the only way the rest of the core parses URLs: parse() gives a
// record or the description of the failure.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarlo::whatwg {

struct Url {
  std::string scheme;    // lower-case, without the trailing ':'
  std::string username;  // percent-encoded
  std::string password;  // percent-encoded
  std::optional<std::string> host;  // serialised host (IPv6 in brackets); absent for e.g. "mailto:x"
  std::optional<std::uint16_t> port;  // absent when none or the scheme's default
  std::string path;  // serialised path: the URL's pathname ("/a/b", or the opaque path)
  bool opaque_path = false;
  std::optional<std::string> query;     // without the leading '?'
  std::optional<std::string> fragment;  // without the leading '#'

  [[nodiscard]] std::string href() const;      // the URL serialiser
  [[nodiscard]] std::string protocol() const;  // scheme + ":"
  [[nodiscard]] std::string host_with_port() const;  // "host" or "host:port", "" when no host
  [[nodiscard]] std::string search() const;    // "" or "?" + query (empty query gives "")
  [[nodiscard]] std::string hash() const;      // "" or "#" + fragment
};

// The descriptions of the ways parse() fails; callers pass them on in their
// messages.
namespace failure {
inline constexpr std::string_view kNoBase = "relative URL without a base";
inline constexpr std::string_view kEmptyHost = "empty host";
inline constexpr std::string_view kBadPort = "invalid port number";
inline constexpr std::string_view kBadIpv4 = "invalid IPv4 address";
inline constexpr std::string_view kBadIpv6 = "invalid IPv6 address";
inline constexpr std::string_view kBadDomainChar = "invalid domain character";
inline constexpr std::string_view kBadIdn = "invalid international domain name";
inline constexpr std::array<std::string_view, 7> kAll{kNoBase,   kEmptyHost,     kBadPort, kBadIpv4,
                                                      kBadIpv6, kBadDomainChar, kBadIdn};
}  // namespace failure

struct ParseResult {
  std::optional<Url> url;    // present on success
  std::string_view failure;  // on failure: one of failure::kAll
  explicit operator bool() const noexcept { return url.has_value(); }
};

// Parses `input` as an absolute URL without a base. Never throws.
[[nodiscard]] ParseResult parse(std::string_view input);

// Percent-decodes `input` into `out` (replaced): "%" followed by two hex
// digits becomes that byte; every other byte, a "%" without two hex digits
// after it included, is copied. With `plus_as_space` a "+" becomes a space,
// as in application/x-www-form-urlencoded text. Bytes are not checked for
// UTF-8.
void percent_decode(std::string_view input, std::string& out, bool plus_as_space = false);

}  // namespace quarlo::whatwg
