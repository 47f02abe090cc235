// The eight built-in payload checks.
#include "core/validation/validation.hpp"

#include <array>
#include <utility>

#include "core/base/ascii.hpp"
#include "core/base/unicode.hpp"

namespace quarlo {
namespace {

constexpr std::size_t kTitleLimit = 60;
constexpr std::size_t kDescriptionLimit = 160;

constexpr std::array<std::string_view, 9> kRobotsNames{
    "index", "noindex", "follow", "nofollow", "none", "noarchive", "nosnippet", "notranslate", "unavailable_after",
};
constexpr std::array<std::string_view, 3> kRobotsPrefixes{"max-snippet", "max-image-preview", "max-video-preview"};

bool is_known_directive(std::string_view piece) noexcept {
  const std::string_view name = piece.substr(0, piece.find(':'));
  for (const std::string_view known : kRobotsNames) {
    if (name == known) return true;
  }
  for (const std::string_view prefix : kRobotsPrefixes) {
    if (name.starts_with(prefix)) return true;
  }
  return false;
}

class Findings {
 public:
  explicit Findings(const SEOPayload& payload) : canonical_(payload.canonical) {}

  void add(std::string_view rule_id, std::string message, Json details = Json::object()) {
    issues_.push_back(SEOIssue{std::string(rule_id), Severity::Warning, std::move(message),
                               std::string(canonical_), std::move(details)});
  }

  std::vector<SEOIssue> take() && { return std::move(issues_); }

 private:
  std::string_view canonical_;
  std::vector<SEOIssue> issues_;
};

// "<before><n><after>" and {"length": n}.
void add_length_finding(Findings& findings, std::string_view rule_id, std::string_view before, std::size_t n,
                        std::string_view after) {
  std::string message(before);
  message.append(std::to_string(n));
  message.append(after);
  Json details = Json::object();
  details["length"] = static_cast<std::uint64_t>(n);
  findings.add(rule_id, std::move(message), std::move(details));
}

}  // namespace

std::string_view severity_name(Severity severity) noexcept {
  switch (severity) {
    case Severity::Error:
      return "error";
    case Severity::Warning:
      return "warning";
    case Severity::Info:
      return "info";
  }
  return "warning";
}

std::string_view severity_serialized_name(Severity severity) noexcept {
  switch (severity) {
    case Severity::Error:
      return "Error";
    case Severity::Warning:
      return "Warning";
    case Severity::Info:
      return "Info";
  }
  return "Warning";
}

std::vector<SEOIssue> validate(const SEOPayload& payload) {
  Findings findings(payload);

  if (payload.title.empty() || payload.title == "Untitled") {
    findings.add("QUARLO101", "Title is missing or default");
  } else if (const std::size_t n = count_scalars(payload.title); n > kTitleLimit) {
    add_length_finding(findings, "QUARLO102", "Title is ", n, " characters (recommended max 60)");
  }

  if (payload.description.empty()) {
    findings.add("QUARLO103", "Meta description is missing");
  } else if (const std::size_t n = count_scalars(payload.description); n > kDescriptionLimit) {
    add_length_finding(findings, "QUARLO104", "Meta description is ", n, " characters (recommended max 160)");
  }

  // Absolute means an http(s) prefix in any ASCII case, as the URL parser
  // reads schemes: a canonical override "HTTPS://..." that the builder
  // accepted is absolute.
  if (!has_http_scheme_prefix(payload.canonical)) {
    findings.add("QUARLO105", "Canonical URL is not absolute");
  }

  if (!payload.og.image) {
    findings.add("QUARLO108", "OG image is missing; set default_og_image or an entity image");
  } else if (!has_http_scheme_prefix(*payload.og.image)) {
    Json details = Json::object();
    details["image"] = *payload.og.image;
    findings.add("QUARLO106", "OG image URL is not absolute", std::move(details));
  }

  const std::string_view robots = payload.robots;
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = robots.find(',', from);
    const std::string_view piece =
        trim(robots.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from));
    if (!is_known_directive(piece)) {
      std::string message = "Invalid robots directive: '";
      message.append(piece);
      message.push_back('\'');
      Json details = Json::object();
      details["directive"] = std::string(piece);
      findings.add("QUARLO107", std::move(message), std::move(details));
    }
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }

  return std::move(findings).take();
}

}  // namespace quarlo
