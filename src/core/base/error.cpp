// Display text of core errors.
#include "core/base/error.hpp"

namespace quarlo {

std::string QuarloError::display() const {
  std::string out;
  const auto p = prefix();
  out.reserve(p.size() + message_.size());
  out.append(p);
  out.append(message_);
  return out;
}

}  // namespace quarlo
