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
#include "core/url/url.hpp"

namespace quarlo {

// `overrides`, `registry` and `public_base` may be null. The registry is only
// handed on to the structured-data dispatch. `public_base`, the
// configuration's base URL parsed before (url.hpp), spares parsing it for
// this build; without it the base URL is parsed once here.
[[nodiscard]] Result<SEOPayload> build_seo_payload(const SEOEntity& entity, std::string_view route,
                                                   const SEOConfig& config, const SEOOverrides* overrides,
                                                   const SchemaRegistry* registry,
                                                   const PublicBase* public_base = nullptr);

// The public entry: build_seo_payload without a registry.
[[nodiscard]] Result<SEOPayload> build_seo_payload_with_overrides(const SEOEntity& entity,
                                                                  std::string_view route,
                                                                  const SEOConfig& config,
                                                                  const SEOOverrides* overrides,
                                                                  const PublicBase* public_base = nullptr);

}  // namespace quarlo
