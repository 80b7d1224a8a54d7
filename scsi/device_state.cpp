#include "scsi/device_state.h"

namespace scsi {

device_state& devices() {
  static device_state state;
  return state;
}

void reset_device_state() { devices() = device_state{}; }

}  // namespace scsi
