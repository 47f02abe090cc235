// The Schema.org BreadcrumbList document of an entity's breadcrumb trail,
// with every crumb resolved to the site's canonical absolute URL.
#pragma once

#include <vector>

#include "core/model/config.hpp"
#include "core/model/entity.hpp"
#include "core/base/error.hpp"
#include "core/base/json.hpp"
#include "core/url/url.hpp"

namespace quarlo {

// Positions count from 1; the first crumb whose URL does not resolve ends the
// call with that error.
[[nodiscard]] Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs,
                                                 const SEOConfig& config);
// The same, resolving through a resolver that has already parsed the base URL.
[[nodiscard]] Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs,
                                                 const PublicUrlResolver& resolver);

}  // namespace quarlo
