// Where dskgrab reads the disk from: the floppy drive itself (the build picks
// drive_posix.cpp or drive_win32.cpp) or an image file standing in for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace dskgrab {

class disk_source {
 public:
  virtual ~disk_source() = default;
  // Reads up to `want` bytes, a whole number of sectors, from where the last
  // read ended; fewer only at the end of the disk. False on a read error,
  // with the reason in `error`.
  virtual bool read(char* buffer, std::size_t want, std::size_t& got, std::string& error) = 0;
};

// The raw drive behind the letter 'A' or 'B'; `name` says what was opened.
std::unique_ptr<disk_source> open_drive(char drive, std::uint64_t sector_bytes, std::string& name,
                                        std::string& error);
// An image file read as if it were the disk.
std::unique_ptr<disk_source> open_image(const std::string& path, std::string& error);

}  // namespace dskgrab
