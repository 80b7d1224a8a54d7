// The image file behind one target of the simulated bus, read and written at
// 64-bit offsets without a shared file position, so that the bus thread's
// transfers never disturb each other. The build picks the implementation
// (sim_file_posix.cpp or sim_file_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace scsi::sim {

class sim_file {
 public:
  sim_file() = default;
  ~sim_file();
  sim_file(const sim_file&) = delete;
  sim_file& operator=(const sim_file&) = delete;

  // Opens read-write when `try_write` and the file allows it, else read-only.
  // False with the system's reason in `error`.
  bool open(const std::string& path, bool try_write, std::string& error);
  bool writable() const { return writable_; }
  // The length in bytes; a block device's too.
  bool size(std::uint64_t& bytes, std::string& error) const;
  // Reads until `bytes` are in or the file ends; `got` says how many came.
  bool read_at(std::uint8_t* buffer, std::size_t bytes, std::uint64_t offset,
               std::size_t& got) const;
  // Writes all of `bytes` or fails.
  bool write_at(const std::uint8_t* buffer, std::size_t bytes, std::uint64_t offset) const;

 private:
  // A file descriptor or a HANDLE; -1 (also INVALID_HANDLE_VALUE) when closed.
  std::intptr_t handle_ = -1;
  bool writable_ = false;
};

}  // namespace scsi::sim
