#include "hybrid/device/device_info.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "hybrid/device/device_source.h"

namespace hybrid {

refusal describe_device(const std::string& specifier, image_info& info) {
  const device_specifier device = parse_specifier(specifier);
  if (device.form != specifier_form::disk && device.form != specifier_form::cdrom) {
    return refusal::because(refuse_specifier(device.form, specifier));
  }
  select_source_device(device);
  device_source source;
  if (refusal refused = open_device_source(source, device.form == specifier_form::cdrom)) {
    return refused;
  }
  if (refusal refused = learn_capacity(source)) return refused;
  const std::uint64_t length = *source.capacity_blocks * block_bytes;
  const image_reader read = [&source](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    while (count > 0) {
      const std::uint64_t block = offset / block_bytes;
      if (block > std::numeric_limits<std::uint32_t>::max()) return false;
      if (!read_source_block(source, static_cast<std::uint32_t>(block))) return false;
      const std::size_t within = static_cast<std::size_t>(offset % block_bytes);
      const std::size_t part = std::min(count, block_bytes - within);
      std::memcpy(into, source.entry.data() + within, part);
      into += part;
      offset += part;
      count -= part;
    }
    return true;
  };
  if (!describe_image(read, length, info)) return refusal::because(read_failure_text(source));
  return accepted();
}

}  // namespace hybrid
