#include <string>

#include "scsi/sim/simulated_bus.h"

namespace scsi {

bool parse_attach(const std::string& text, sim_device& device, std::string& error) {
  const std::string form = "'" + text + "' is not disk|cdrom[,no-read6]:HOST:TARGET=FILE";
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    error = form;
    return false;
  }
  const std::string place = text.substr(0, equals);
  const std::size_t colon = place.find(':');
  if (colon == std::string::npos) {
    error = form;
    return false;
  }
  std::string kind = place.substr(0, colon);
  const std::string numbers = place.substr(colon + 1);
  bool no_six_byte = false;
  if (const std::size_t comma = kind.find(','); comma != std::string::npos) {
    const std::string option = kind.substr(comma + 1);
    if (option != "no-read6") {
      error = "unknown device option '" + option + "' in '" + text + "': use no-read6";
      return false;
    }
    no_six_byte = true;
    kind.resize(comma);
  }
  if (kind != "disk" && kind != "cdrom") {
    error = "unknown device kind '" + kind + "' in '" + text + "': use disk or cdrom";
    return false;
  }
  const std::size_t second = numbers.find(':');
  if (second == std::string::npos) {
    error = form;
    return false;
  }
  const std::string host = numbers.substr(0, second);
  const std::string target = numbers.substr(second + 1);
  if (host.size() != 1 || host[0] < '0' || host[0] > '9') {
    error = "host adapter '" + host + "' in '" + text + "' is not 0 to 9";
    return false;
  }
  if (target.size() != 1 || target[0] < '0' || target[0] > '7') {
    error = "target '" + target + "' in '" + text + "' is not 0 to 7";
    return false;
  }
  if (equals + 1 == text.size()) {
    error = "no file after '=' in '" + text + "'";
    return false;
  }
  device = sim_device{};
  device.kind = kind == "disk" ? sim_device::kind::disk : sim_device::kind::cdrom;
  device.host = static_cast<std::uint8_t>(host[0] - '0');
  device.target = static_cast<std::uint8_t>(target[0] - '0');
  device.path = text.substr(equals + 1);
  device.no_six_byte_transfers = no_six_byte;
  return true;
}

}  // namespace scsi
