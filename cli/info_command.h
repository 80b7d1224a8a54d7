// --info: describes an image file or a device's volume on standard output,
// as text or as JSON. Opens the file for reading only and writes nothing.
#pragma once

#include "cli/options.h"

namespace cli {

// Exit status: 0 described and sound, 1 problems found or nothing could be
// described (the reason is on standard error).
int run_info(const options& parsed);

}  // namespace cli
