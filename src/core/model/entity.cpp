// Content entity records: type names, robots string and serialised forms.
#include "core/model/entity.hpp"

#include "core/base/record_json.hpp"

#include <array>
#include <charconv>
#include <limits>

namespace quarlo {
namespace {

struct EntityTypeNames {
  EntityType type;
  std::string_view name;        // lower-case word, the parse input
  std::string_view serialized;  // capitalised name of the serialised entity
};

// Indexed by the enumerator's value.
constexpr std::array<EntityTypeNames, kEntityTypeCount> kEntityTypeNames{{
    {EntityType::Home, "home", "Home"},
    {EntityType::Post, "post", "Post"},
    {EntityType::Page, "page", "Page"},
    {EntityType::Video, "video", "Video"},
    {EntityType::Taxonomy, "taxonomy", "Taxonomy"},
    {EntityType::Search, "search", "Search"},
    {EntityType::Other, "other", "Other"},
    {EntityType::Product, "product", "Product"},
    {EntityType::Organization, "organization", "Organization"},
    {EntityType::LocalBusiness, "local_business", "LocalBusiness"},
    {EntityType::Faq, "faq", "Faq"},
}};

static_assert([] {
  for (std::size_t i = 0; i < kEntityTypeNames.size(); ++i) {
    if (static_cast<std::size_t>(kEntityTypeNames[i].type) != i) return false;
  }
  return true;
}());

const EntityTypeNames* names_of(EntityType type) noexcept {
  const auto index = static_cast<std::size_t>(type);
  return index < kEntityTypeNames.size() ? &kEntityTypeNames[index] : nullptr;
}

constexpr std::string_view kEntityTypeRejection =
    "entity_type must be one of "
    "home/post/page/video/taxonomy/search/other/product/organization/local_business/faq, got '";

// Room for any int32 in decimal, sign included.
constexpr std::size_t kInt32Digits = std::numeric_limits<std::int32_t>::digits10 + 2;

void append_int(std::string& out, std::int32_t value) {
  std::array<char, kInt32Digits> buf{};
  const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  (void)ec;  // the buffer always fits an int32
  out.append(buf.data(), end);
}

}  // namespace

Result<EntityType> entity_type_from_str(std::string_view text) {
  for (const auto& entry : kEntityTypeNames) {
    if (entry.name == text) return entry.type;
  }
  std::string message;
  message.reserve(kEntityTypeRejection.size() + text.size() + 1);
  message.append(kEntityTypeRejection);
  message.append(text);
  message.push_back('\'');
  return QuarloError::invalid_entity(std::move(message));
}

std::string_view entity_type_name(EntityType type) noexcept {
  const auto* names = names_of(type);
  return names ? names->name : std::string_view{};
}

std::string_view entity_type_serialized_name(EntityType type) noexcept {
  const auto* names = names_of(type);
  return names ? names->serialized : std::string_view{};
}

std::string Robots::serialize() const {
  constexpr std::string_view kSnippet = ",max-snippet:";
  constexpr std::string_view kImagePreview = ",max-image-preview:";
  constexpr std::string_view kVideoPreview = ",max-video-preview:";

  if (!max_snippet && !max_image_preview && !max_video_preview) {
    // The plain directives: "index,follow" stays within the string's own buffer.
    if (index) return std::string(follow ? "index,follow" : "index,nofollow");
    return std::string(follow ? "noindex,follow" : "noindex,nofollow");
  }
  std::size_t size = std::string_view("noindex,nofollow").size();
  if (max_snippet) size += kSnippet.size() + kInt32Digits;
  if (max_image_preview) size += kImagePreview.size() + max_image_preview->size();
  if (max_video_preview) size += kVideoPreview.size() + kInt32Digits;

  std::string out;
  out.reserve(size);
  out.append(index ? "index" : "noindex");
  out.append(follow ? ",follow" : ",nofollow");
  if (max_snippet) {
    out.append(kSnippet);
    append_int(out, *max_snippet);
  }
  if (max_image_preview) {
    out.append(kImagePreview);
    out.append(*max_image_preview);
  }
  if (max_video_preview) {
    out.append(kVideoPreview);
    append_int(out, *max_video_preview);
  }
  return out;
}

OrderedJson to_json(const SEOImage& image) { return to_ordered_json(image); }
OrderedJson to_json(const Breadcrumb& crumb) { return to_ordered_json(crumb); }
OrderedJson to_json(const FAQItem& item) { return to_ordered_json(item); }
OrderedJson to_json(const Robots& robots) { return to_ordered_json(robots); }
OrderedJson to_json(const SEOEntity& entity) { return to_ordered_json(entity); }

}  // namespace quarlo
