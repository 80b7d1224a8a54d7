// Device sources need the SCSI layer, which this build does not have yet.
// The jobs refuse plainly rather than pretend.
#include "hybrid/jobs.h"
#include "hybrid/messages.h"

namespace hybrid {

int hybridize_from_device(const std::string& /*device_specifier*/, byte_stream& /*iso_image*/,
                          questions& ask) {
  ask.notice(text::device_sources_unavailable);
  return 0;
}

int extract_to_hfs_image(const std::string& /*device_specifier*/, byte_stream& /*hfs_image*/,
                         questions& ask) {
  ask.notice(text::device_sources_unavailable);
  return 0;
}

}  // namespace hybrid
