// Building the objects of structured-data documents with as little copying
// and re-searching as the JSON value type allows. Internal to the jsonld and
// breadcrumbs modules.
#pragma once

#include <string_view>
#include <utility>

#include "core/base/json.hpp"

namespace quarlo::jsonld {

// An empty JSON object.
[[nodiscard]] inline Json new_object() { return Json(Json::value_t::object); }

// The map behind an object value.
[[nodiscard]] inline Json::object_t& members(Json& object) noexcept {
  return *object.get_ptr<Json::object_t*>();
}

// Adds a key that sorts after every key already present: no search, no
// rebalancing beyond the insertion itself.
inline void append_member(Json::object_t& object, std::string_view key, Json value) {
  object.emplace_hint(object.end(), key, std::move(value));
}

// Adds a key anywhere, replacing the value of an existing key.
inline void set_member(Json::object_t& object, std::string_view key, Json value) {
  const auto it = object.lower_bound(key);
  if (it != object.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    object.emplace_hint(it, key, std::move(value));
  }
}

// {"@type": type, key: value}: the shape of most nested Schema.org objects.
// `key` must sort after "@type".
[[nodiscard]] inline Json typed_object(std::string_view type, std::string_view key, Json value) {
  Json object = new_object();
  auto& m = members(object);
  append_member(m, "@type", Json(type));
  append_member(m, key, std::move(value));
  return object;
}

}  // namespace quarlo::jsonld
