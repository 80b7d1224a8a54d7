// The texts of the device jobs.
#pragma once

#include <cstdint>
#include <string>

#include "hybrid/device/device_read.h"

namespace hybrid::text {

inline constexpr const char* not_mac_volume = "This disk is not a Macintosh HFS volume.";
inline constexpr const char* floppy_not_direct =
    "32-bit Version\nYou have to first make an HFS image of the floppy disk.\n"
    "We can't read directly from the floppy.";
inline constexpr const char* disk_holds_no_hfs = "This disk holds no HFS partition.";
inline constexpr const char* no_volume_block_count =
    "The disk's Driver Descriptor gives no block count, so the whole volume cannot be "
    "copied.\nAborting...";

// "The total length of the ISO image,\nafter adding the selected partition,\n
// would be of %lu sectors.\nThis exceeds the maximum capacity of a CD-ROM."
std::string cd_capacity_warning(std::uint64_t sectors);

std::string unknown_specifier(const std::string& specifier);
std::string no_floppy_drive(char letter);
std::string device_silent(bool cdrom, unsigned host, unsigned target);
std::string unsupported_block_size(std::uint32_t bytes);
std::string device_too_many_entries(int entries);
// The partition map reaches block `map_end`, past the `capacity` blocks of
// the device (both in 512-byte blocks).
std::string map_past_device_end(bool cdrom, std::uint64_t map_end, std::uint64_t capacity);
std::string device_read_failed(const device_failure& failure, unsigned host, unsigned target);

}  // namespace hybrid::text
