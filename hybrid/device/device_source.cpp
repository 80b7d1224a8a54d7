#include "hybrid/device/device_source.h"

#include <cctype>
#include <cstring>

#include "hybrid/device/device_listing.h"
#include "hybrid/image_info.h"
#include "hybrid/messages.h"
#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/block_reader.h"
#include "scsi/device_state.h"

namespace hybrid {
namespace {

constexpr int readcap_attempts = 10;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The device's last block and block length, asked with READ CAPACITY.
refusal ask_capacity(device_source& source, std::uint32_t& block_length) {
  const auto host = static_cast<std::uint8_t>(source.request.host_adapter);
  const auto target = static_cast<std::uint8_t>(source.request.target);
  std::uint8_t answer[512];
  int status = 0;
  for (int attempt = 0; attempt < readcap_attempts && status != 1; ++attempt) {
    status = scsi::aspi_readcap(host, target, answer);
  }
  if (status != 1) return refusal::because(text::device_silent(source.cdrom, host, target));
  block_length = get_be32(answer + 4);
  source.capacity_blocks = (std::uint64_t{get_be32(answer)} + 1) * block_length / block_bytes;
  return accepted();
}

// A job reads with the block length of the device it reads: the device
// dialog's only when the specifier names the device the dialog asked, else
// the device's own answer. A read of zero-byte blocks would copy nothing.
// Only 512-byte blocks are read, since the map counts 512-byte blocks and the
// entry buffer holds at most a few of them.
refusal learn_disk_block_length(device_source& source) {
  scsi::device_state& state = scsi::devices();
  const bool known = state.aspi_unit_size != 0 &&
                     state.unit_size_host == source.request.host_adapter &&
                     state.unit_size_target == source.request.target;
  if (!known) {
    std::uint32_t length = 0;
    if (refusal refused = ask_capacity(source, length)) return refused;
    if (length != block_bytes) return refusal::because(text::unsupported_block_size(length));
    state.aspi_unit_size = static_cast<std::uint16_t>(length);
    state.unit_size_host = static_cast<std::uint8_t>(source.request.host_adapter);
    state.unit_size_target = static_cast<std::uint8_t>(source.request.target);
  }
  if (state.aspi_unit_size != block_bytes)
    return refusal::because(text::unsupported_block_size(state.aspi_unit_size));
  return accepted();
}

}  // namespace

device_specifier parse_specifier(const std::string& specifier) {
  device_specifier device;
  if (specifier.size() >= 2 && specifier[1] == ':') {
    const int letter = std::toupper(static_cast<unsigned char>(specifier[0]));
    device.form = specifier_form::floppy;
    device.target = static_cast<std::uint8_t>(letter - 'A');
    return device;
  }
  if (specifier.empty() || (specifier[0] != 'A' && specifier[0] != 'C')) return device;
  device.form = specifier[0] == 'A' ? specifier_form::disk : specifier_form::cdrom;
  if (specifier.size() > 1 && is_digit(specifier[1])) {
    device.host = static_cast<std::uint8_t>(specifier[1] - '0');
  }
  if (specifier.size() > 2 && is_digit(specifier[2])) {
    device.target = static_cast<std::uint8_t>(specifier[2] - '0');
  }
  return device;
}

void select_source_device(const device_specifier& device) {
  scsi::device_state& state = scsi::devices();
  if (device.host) state.src_host = *device.host;
  if (device.target) state.src_target = *device.target;
}

void rewind_request(device_source& source) {
  source.request.block_address = 0;
  source.request.block_count = 1;
  source.request.buffer = source.entry.data();
}

bool read_source_block(device_source& source, std::uint32_t block) {
  source.request.buffer = source.entry.data();
  source.request.block_count = 1;
  source.request.block_address = block;
  if (const int status = source.read(source.request); status != 0) {
    source.failure = {
        device_failure::what::read,
        source.cdrom ? device_failure::unit::cd_block : device_failure::unit::disk_block, block, 1,
        status};
    return false;
  }
  return true;
}

request_blocks source_blocks(device_source& source) {
  source.request.buffer = source.entry.data();
  return request_blocks(source.read, source.request, source.failure);
}

std::string read_failure_text(const device_source& source) {
  if (source.failure.status == scsi::SS_ABORTED && source.ask != nullptr &&
      source.ask->stop_requested()) {
    return text::stopped;
  }
  return text::device_read_failed(source.failure, source.request.host_adapter,
                                  source.request.target);
}

refusal learn_capacity(device_source& source) {
  if (source.capacity_blocks) return accepted();
  std::uint32_t length = 0;
  return ask_capacity(source, length);
}

refusal open_device_source(device_source& source, bool cdrom) {
  scsi::device_state& state = scsi::devices();
  source.cdrom = cdrom;
  source.capacity_blocks.reset();
  source.request = {};
  source.request.command = cdrom ? scsi::op_read6 : scsi::command_read;
  source.request.host_adapter = state.src_host;
  source.request.target = state.src_target;
  source.read = cdrom ? scsi::read_cd_block : scsi::read_blocks;
  rewind_request(source);
  // Each job reads the disc that is in the drive now.
  scsi::forget_cached_sector();

  if (!cdrom) {
    if (refusal refused = learn_disk_block_length(source)) return refused;
  }
  if (!read_source_block(source, 0)) return refusal::because(read_failure_text(source));
  std::memcpy(source.block0.data(), source.entry.data(), block_bytes);
  source.has_driver_descriptor = is_driver_descriptor(source.block0.data());
  if (cdrom) {
    state.src_block_size = scsi::cd_sector_bytes;
  } else if (source.has_driver_descriptor) {
    state.src_block_size = decode_driver_descriptor(source.block0.data()).block_size;
    if (state.src_block_size != block_bytes) {
      return refusal::because(text::unsupported_block_size(state.src_block_size));
    }
  } else {
    // Without a Driver Descriptor bytes 2-3 mean nothing; the device's own
    // block length is the only size we know.
    state.src_block_size = state.aspi_unit_size;
  }
  if (!read_source_block(source, 1)) return refusal::because(read_failure_text(source));
  source.has_map_entry = is_partition_entry(source.entry.data());
  return accepted();
}

std::string refuse_specifier(specifier_form form, const std::string& specifier) {
  if (form == specifier_form::floppy) {
    const auto letter = static_cast<char>(std::toupper(static_cast<unsigned char>(specifier[0])));
    return letter == 'A' || letter == 'B' ? std::string(text::floppy_not_direct)
                                          : text::no_floppy_drive(letter);
  }
  return text::unknown_specifier(specifier);
}

job_stop choose_source_partition(device_source& source, bool cd_walk, partition_list& list,
                                 questions& ask, int& choice) {
  clear_partition_list(list);
  int listed = 0;
  if (cd_walk) {
    rewind_request(source);
    source.request.command = scsi::op_read6;
    listed = list_hfs_partitions_cd(source.request, list, source.failure);
  } else {
    listed = list_hfs_partitions_dev(source.read, source.request, list, source.failure);
  }
  if (listed < 0) return job_outcome::refused(read_failure_text(source));
  if (listed == 0) return job_outcome::refused(text::disk_holds_no_hfs);
  if (listed == 1) {
    choice = choice_all;
  } else {
    request_blocks names = source_blocks(source);
    choice = choose_partition_of(ask, list, names);
  }
  if (choice != choice_all && (choice < 0 || choice >= listed_rows(list))) {
    return job_outcome::cancelled();
  }
  return std::nullopt;
}

}  // namespace hybrid
