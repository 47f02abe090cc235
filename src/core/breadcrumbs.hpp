// The Schema.org BreadcrumbList document of an entity's breadcrumb trail,
// with every crumb resolved to the site's canonical absolute URL.
#pragma once

#include <vector>

#include "core/config.hpp"
#include "core/entity.hpp"
#include "core/error.hpp"
#include "core/json.hpp"
#include "core/url.hpp"

namespace quarlo {

// Positions count from 1; the first crumb whose URL does not resolve ends the
// call with that error.
[[nodiscard]] Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs,
                                                 const SEOConfig& config);
// The same, resolving through a resolver that has already parsed the base URL.
[[nodiscard]] Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs,
                                                 const PublicUrlResolver& resolver);

}  // namespace quarlo
