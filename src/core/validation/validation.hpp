// The built-in search-engine checks of a finished payload ("QUARLO101" to
// "QUARLO108"). Validation never changes the payload and never fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/json.hpp"
#include "core/payload/payload.hpp"

namespace quarlo {

enum class Severity : std::uint8_t { Error, Warning, Info };

// "error", "warning", "info".
[[nodiscard]] std::string_view severity_name(Severity severity) noexcept;
// "Error", "Warning", "Info".
[[nodiscard]] std::string_view severity_serialized_name(Severity severity) noexcept;

// One finding.
struct SEOIssue {
  std::string rule_id;
  Severity severity = Severity::Warning;
  std::string message;
  std::optional<std::string> url;
  Json details = Json::object();  // always an object, keys byte-wise ascending

  friend bool operator==(const SEOIssue&, const SEOIssue&) = default;
};

// Findings in check order: title, description, canonical, Open Graph image,
// then one per unrecognised robots directive in robots order. Every finding
// is a warning carrying the payload's canonical URL.
[[nodiscard]] std::vector<SEOIssue> validate(const SEOPayload& payload);

}  // namespace quarlo
