#include "cli/real_devices.h"

namespace cli {

// The Windows front end reaches devices through the simulated bus alone.
real_devices open_real_devices() { return {}; }

}  // namespace cli
