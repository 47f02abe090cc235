// Turning a contract configuration into an SEOContract: the caller's site
// identity and expectations copied as given, stamped with the format version
// and generator identity. Nothing is validated.
#pragma once

#include <string>
#include <vector>

#include "core/contract/model.hpp"

namespace quarlo {

struct SEOContractConfig {
  SEOExpectation defaults;
  std::string canonical_host;
  std::string scheme = "https";
  std::vector<SEOContractRule> rules;
  ContractExceptions exceptions;

  friend bool operator==(const SEOContractConfig&, const SEOContractConfig&) = default;
};

[[nodiscard]] SEOContract build_contract(const SEOContractConfig& config);

// The same operation under the name the module exports.
[[nodiscard]] inline SEOContract build_seo_contract(const SEOContractConfig& config) {
  return build_contract(config);
}

}  // namespace quarlo
