#include "scsi/device_state.h"

#include <algorithm>

namespace scsi {

device_state& devices() {
  static device_state state;
  return state;
}

void reset_device_state() { devices() = device_state{}; }

bool takes_only_ten_byte_transfers(device_address device) {
  const std::vector<device_address>& known = devices().ten_byte_only;
  return std::find(known.begin(), known.end(), device) != known.end();
}

void remember_ten_byte_transfers(device_address device) {
  if (!takes_only_ten_byte_transfers(device)) devices().ten_byte_only.push_back(device);
}

void forget_ten_byte_transfers() { devices().ten_byte_only.clear(); }

}  // namespace scsi
