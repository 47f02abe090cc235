// A table of additional structured-data builders keyed by schema type name,
// consulted for schema types that have no built-in builder.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/json.hpp"

namespace quarlo {

struct SchemaContext;

// A registered builder: whatever JSON value it returns becomes the document.
// It cannot fail and must be safe to call from any thread.
using SchemaBuilder = std::function<Json(const SchemaContext&)>;

// Ordered by schema type name (byte-wise, case-sensitive). Const operations
// may run concurrently; mutation needs external synchronisation.
class SchemaRegistry {
 public:
  // True when a builder is registered under exactly `schema_type`.
  [[nodiscard]] bool has(std::string_view schema_type) const;
  // The registered names, byte-wise ascending.
  [[nodiscard]] std::vector<std::string> list_types() const;
  // The builder registered under `schema_type`, or null.
  [[nodiscard]] const SchemaBuilder* find(std::string_view schema_type) const;
  // Registers (or replaces) the builder for `schema_type`.
  void insert(std::string schema_type, SchemaBuilder builder);

 private:
  std::map<std::string, SchemaBuilder, std::less<>> builders_;
};

}  // namespace quarlo
