#include "core/base/src/quota.hpp"

namespace base {

std::optional<std::string> within_quota(std::uint32_t& quota, std::string message) {
  if (quota == 0) return std::nullopt;
  if (quota == 1) {
    quota = 0;
    message += " (further ones are not logged)";
    return message;
  }
  --quota;
  return message;
}

}  // namespace base
