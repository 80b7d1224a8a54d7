#include "tools/dskgrab/drive.h"

namespace dskgrab {

// Linux names the floppy drives fd0 and fd1; the device reads like a file.
std::unique_ptr<disk_source> open_drive(char drive, std::uint64_t, std::string& name,
                                        std::string& error) {
  name = drive == 'A' ? "/dev/fd0" : "/dev/fd1";
  return open_image(name, error);
}

}  // namespace dskgrab
