// The typical blog post every benchmark measures: a 1.5 KB HTML body, a
// featured image, a title template, three breadcrumbs, and the payload the
// builder makes of it (an Article document and a BreadcrumbList).
#pragma once

#include <string_view>
#include <vector>

#include "core/model/config.hpp"
#include "core/model/entity.hpp"
#include "core/payload/payload.hpp"
#include "core/payload/builder.hpp"

namespace quarlo::bench {

// About 1.5 KB: paragraphs, a heading, links with attributes, emphasis, a
// list, an image, an entity and typographic quotes and dashes.
inline constexpr std::string_view kPostBody =
    "<p>Last spring we moved the whole build farm to a new set of machines, and we learned a few things "
    "along the way. This post collects the ones we wish we had known <em>before</em> we started.</p>\n"
    "<h2 id=\"planning\">Planning the move</h2>\n"
    "<p>We began with an inventory of every job, its owner and the secrets it needed. That list turned out "
    "to be the most useful document of the project \xE2\x80\x94 it told us which jobs nobody had touched in "
    "a year, and we simply retired those.</p>\n"
    "<p><img src=\"/media/2024/05/racks.jpg\" alt=\"Two racks of servers\" width=\"1200\" height=\"800\" "
    "loading=\"lazy\"></p>\n"
    "<p>A few rules we followed:</p>\n"
    "<ul>\n"
    "  <li>Move one team at a time, and keep the old runners for a week.</li>\n"
    "  <li>Pin every tool version; \xE2\x80\x9Clatest\xE2\x80\x9D is not a version.</li>\n"
    "  <li>Measure queue times before and after, not just build times.</li>\n"
    "</ul>\n"
    "<h2 id=\"results\">Results</h2>\n"
    "<p>Median build time fell from 14 to 9 minutes, and the 95th percentile queue time dropped by half. "
    "Caches did most of the work: see <a href=\"https://example.com/blog/build-caches/\" "
    "rel=\"noopener\">our earlier post on build caches</a> for the details &amp; the numbers.</p>\n"
    "<blockquote><p>It\xE2\x80\x99s the boring parts of a migration that decide whether it succeeds.</p>"
    "</blockquote>\n"
    "<p>Next time we will write the inventory first and automate the rest. If you are planning a similar "
    "move, <strong>start with the list</strong>; everything else follows from it.</p>\n"
    "<p>Thanks to everyone on the infrastructure team who carried pagers during the switch-over week, and "
    "to the teams who volunteered to go first.</p>\n";

inline SEOConfig typical_config() {
  SEOConfig c;
  c.canonical_host = "www.example.com";
  c.public_base_url = "https://www.example.com";
  c.site_name = "Example Blog";
  c.title_template = "{title} | Example Blog";
  c.locale = "en_US";
  c.twitter_site = "@example";
  c.publisher_name = "Example Inc.";
  c.publisher_logo = "/media/logo.png";
  return c;
}

inline SEOEntity typical_post_entity() {
  SEOEntity e;
  e.entity_type = EntityType::Post;
  e.slug = "faster-builds";
  e.title = "How we moved our build farm";
  e.body_html = std::string(kPostBody);
  e.status = "published";
  e.featured_image = SEOImage{"https://www.example.com/media/2024/05/racks.jpg", 1200u, 630u, "Two racks of servers"};
  e.published_at = "2024-05-14T09:30:00Z";
  e.updated_at = "2024-05-20T16:05:00Z";
  e.author_name = "Jane Doe";
  e.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}, {"Blog", "/blog/"}, {"How we moved our build farm", "/blog/faster-builds/"}};
  return e;
}

inline constexpr std::string_view kTypicalRoute = "/blog/faster-builds/?utm_source=newsletter";

// The payload the builder makes of the typical post.
inline SEOPayload typical_post_payload() {
  const SEOConfig config = typical_config();
  const SEOEntity entity = typical_post_entity();
  return std::move(build_seo_payload_with_overrides(entity, kTypicalRoute, config, nullptr)).value();
}

}  // namespace quarlo::bench
