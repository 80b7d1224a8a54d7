// --from-drive also takes the system's name of a device (on Linux /dev/srN,
// /dev/sgN, /dev/sdX): it is turned into the specifier the jobs take, with
// the host adapter and target the device is listed under.
#pragma once

#include <optional>
#include <string>

namespace cli {

// The specifier for `value` when it names a device by the system's name;
// nothing when it is no such name (it is then taken as a specifier).
// `error` is set, and the result empty, when it names a device that cannot
// be reached that way.
std::optional<std::string> specifier_for_device_path(const std::string& value, std::string& error);

}  // namespace cli
