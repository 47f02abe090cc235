// The payload builder: resolves an entity published at a route, the site
// configuration and optional per-call overrides into one SEOPayload through
// fixed precedence chains (override, entity, configuration, built-in value).
// Pure: the same inputs give the same payload, byte for byte.
#pragma once

#include <string_view>

#include "core/model/config.hpp"
#include "core/model/entity.hpp"
#include "core/base/error.hpp"
#include "core/jsonld/registry.hpp"
#include "core/payload/payload.hpp"

namespace quarlo {

// `overrides` and `registry` may be null. The registry is only handed on to
// the structured-data dispatch.
[[nodiscard]] Result<SEOPayload> build_seo_payload(const SEOEntity& entity, std::string_view route,
                                                   const SEOConfig& config, const SEOOverrides* overrides,
                                                   const SchemaRegistry* registry);

// The public entry: build_seo_payload without a registry.
[[nodiscard]] Result<SEOPayload> build_seo_payload_with_overrides(const SEOEntity& entity,
                                                                  std::string_view route,
                                                                  const SEOConfig& config,
                                                                  const SEOOverrides* overrides);

}  // namespace quarlo
