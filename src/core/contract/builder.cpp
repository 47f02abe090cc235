// Contract configurations turned into SEOContract records.
#include "core/contract/builder.hpp"

namespace quarlo {

SEOContract build_contract(const SEOContractConfig& config) {
  SEOContract contract;
  contract.site.canonical_host = config.canonical_host;
  contract.site.scheme = config.scheme;
  contract.defaults = config.defaults;
  contract.rules = config.rules;
  contract.exceptions = config.exceptions;
  return contract;
}

}  // namespace quarlo
