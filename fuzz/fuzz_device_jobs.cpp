// Both device jobs on a disk or CD-ROM whose contents are the fuzz input,
// served by the in-memory bus of the unit tests. The same promises hold as
// for the file job, and an extraction that fails leaves its target empty.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fake_bus.h"
#include "fuzz_support.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/jobs.h"
#include "scsi/device_state.h"

namespace {

// A wrapped partition behind a fresh map, or a volume copied whole: either
// way block 0 counts exactly the blocks of the image (the device's own count
// for a whole volume, which is what was copied).
// A completed extraction is either the device's volume copied whole (then
// it is a prefix of the device's bytes, however block 0 counts them: a
// count past the device is cut to it, one short of the map grows to it) or
// one partition behind a fresh map whose block 0 counts the image.
void check_extracted(const std::vector<std::uint8_t>& image,
                     const std::vector<std::uint8_t>& device) {
  fuzz::check(!image.empty() && image.size() % hybrid::block_bytes == 0,
              "a completed extraction is not whole blocks");
  const bool whole_copy =
      image.size() <= device.size() && std::equal(image.begin(), image.end(), device.begin());
  fuzz::check(
      whole_copy || std::uint64_t{hybrid::decode_driver_descriptor(image.data()).block_count} *
                            hybrid::block_bytes ==
                        image.size(),
      "an extraction is neither the volume copied whole nor counted by its block 0");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const bool cdrom = (data[0] & 1) != 0;
  const bool extract = (data[0] & 2) != 0;
  const std::uint8_t answers = data[1];
  const std::uint8_t failing_transfer = data[2];  // 0: none

  test::fake_bus bus;
  test::bus_scope scope(bus);
  test::fake_device device;
  device.type = cdrom ? 5 : 0;
  device.block_bytes = cdrom ? 2048 : 512;
  device.data.assign(data + 3, data + size);
  device.data.resize((device.data.size() + device.block_bytes - 1) / device.block_bytes *
                         device.block_bytes +
                     device.block_bytes);
  bus.devices[{1, 2}] = device;
  int transfers = 0;
  bus.fault = [&](const scsi::SRB_ExecSCSICmd&) -> std::uint8_t {
    return ++transfers == failing_transfer ? scsi::SS_ERR : 0;
  };

  fuzz::answering_user user(answers);
  const char* specifier = cdrom ? "C120" : "A120";
  if (extract) {
    hybrid::memory_stream image{"out.img"};
    const int result = hybrid::extract_to_hfs_image(specifier, image, user).code();
    if (result == 0) {
      fuzz::check(image.bytes().empty(), "a failed extraction left bytes behind");
    } else {
      check_extracted(image.bytes(), device.data);
    }
    return 0;
  }
  std::vector<std::uint8_t> iso_before(hybrid::map_area_bytes + 1000);
  for (std::size_t i = 0; i < iso_before.size(); ++i)
    iso_before[i] = static_cast<std::uint8_t>(i * 13 + 5);
  hybrid::memory_stream iso{"cd.iso", iso_before};
  const int result = hybrid::hybridize_from_device(specifier, iso, user).code();
  if (result == 0) {
    fuzz::check(iso.bytes() == iso_before, "a refused device job changed the ISO image");
  } else {
    fuzz::check_hybrid(iso.bytes(), iso_before);
  }
  return 0;
}
