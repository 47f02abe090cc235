// The Schema.org BreadcrumbList document of an entity's breadcrumb trail,
// with every crumb resolved to the site's canonical absolute URL.
#pragma once

#include <string>
#include <vector>

#include "core/model/config.hpp"
#include "core/model/entity.hpp"
#include "core/base/error.hpp"
#include "core/base/json.hpp"
#include "core/url/url.hpp"

namespace quarlo {

// Appends the list's canonical compact text to `out`. Positions count from 1;
// the first crumb whose URL does not resolve ends the call with that error
// (`out` then holds part of the list).
[[nodiscard]] Result<void> append_breadcrumb_list(std::string& out, const std::vector<Breadcrumb>& breadcrumbs,
                                                  const PublicUrlResolver& resolver);
// The list as a value. Positions count from 1; the first crumb whose URL does not resolve ends the
// call with that error.
[[nodiscard]] Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs,
                                                 const SEOConfig& config);
// The same, resolving through a resolver that has already parsed the base URL.
[[nodiscard]] Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs,
                                                 const PublicUrlResolver& resolver);

}  // namespace quarlo
