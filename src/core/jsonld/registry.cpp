// The table of additional structured-data builders.
#include "core/jsonld/registry.hpp"

namespace quarlo {

bool SchemaRegistry::has(std::string_view schema_type) const { return builders_.find(schema_type) != builders_.end(); }

std::vector<std::string> SchemaRegistry::list_types() const {
  std::vector<std::string> names;
  names.reserve(builders_.size());
  for (const auto& entry : builders_) names.push_back(entry.first);
  return names;
}

const SchemaBuilder* SchemaRegistry::find(std::string_view schema_type) const {
  const auto it = builders_.find(schema_type);
  return it == builders_.end() ? nullptr : &it->second;
}

void SchemaRegistry::insert(std::string schema_type, SchemaBuilder builder) {
  builders_.insert_or_assign(std::move(schema_type), std::move(builder));
}

}  // namespace quarlo
