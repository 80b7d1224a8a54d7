// Systems without Linux's SCSI pass-through have no device names to map:
// every --from-drive value is a specifier.
#include "cli/device_path.h"

namespace cli {

std::optional<std::string> specifier_for_device_path(const std::string&, std::string&) {
  return std::nullopt;
}

}  // namespace cli
