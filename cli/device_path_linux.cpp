#include <cstdlib>
#include <filesystem>
#include <regex>

#include "cli/device_path.h"
#include "hybrid/messages.h"
#include "scsi/transports/sg_io_manager_linux.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t type_cdrom = 5;

}  // namespace

std::optional<std::string> specifier_for_device_path(const std::string& value, std::string& error) {
  static const std::regex device_name("/dev/(sr[0-9]+|sg[0-9]+|sd[a-z]+)");
  std::smatch name;
  if (!std::regex_match(value, name, device_name)) return std::nullopt;

  // The same sysfs as the manager's, so that the numbers are the ones it
  // gives (the tests point both at a tree of their own).
  scsi::sg_io_setup setup;
  if (const char* sysfs = std::getenv("ZELVORANT_SYSFS")) setup.sysfs = sysfs;
  if (const char* devdir = std::getenv("ZELVORANT_DEVDIR")) setup.devdir = devdir;
  const fs::path sysfs(setup.sysfs);
  std::error_code failed;
  fs::path link;
  for (const char* kind : {"class/scsi_generic", "class/block"}) {
    link = fs::read_symlink(sysfs / kind / name[1].str() / "device", failed);
    if (!failed) break;
  }
  // "H:C:T:L", as the kernel names a SCSI device.
  static const std::regex address("([0-9]+):([0-9]+):([0-9]+):([0-9]+)");
  const std::string last = link.filename().string();
  std::smatch parts;
  if (failed || !std::regex_match(last, parts, address)) {
    error = hybrid::text::unlisted_device(value);
    return std::nullopt;
  }
  const unsigned long kernel_host = std::stoul(parts[1].str());
  const unsigned long target = std::stoul(parts[3].str());
  const scsi::sg_io_manager manager(std::move(setup));
  for (const scsi::sg_target& device : manager.targets()) {
    if (device.kernel_host != kernel_host || device.target != target) continue;
    if (device.host > 9) {
      error = hybrid::text::device_past_host_nine(value, device.host);
      return std::nullopt;
    }
    const char kind = device.type == type_cdrom ? 'C' : 'A';
    return std::string{kind, static_cast<char>('0' + device.host),
                       static_cast<char>('0' + device.target), '0'};
  }
  error = hybrid::text::device_off_host_adapter(value, last);
  return std::nullopt;
}

}  // namespace cli
