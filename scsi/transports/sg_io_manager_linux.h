// An ASPI manager over Linux's SCSI pass-through: every SCSI device at
// channel 0, LUN 0 with a generic (sg) node, or else a block node (sr, sd),
// answers as a target of an ASPI host adapter, and requests go to it through
// ioctl(SG_IO). The kernel's SCSI hosts become host adapters 0, 1, ... in
// ascending order of their numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scsi/aspi_manager.h"

struct sg_io_hdr;  // <scsi/sg.h>

namespace scsi {

// The system calls the manager makes, so that tests can answer them.
struct sg_system {
  // A descriptor, or -errno.
  std::function<int(const std::string& path, int flags)> open;
  std::function<void(int fd)> close;
  // ioctl(fd, SG_IO, header): 0, or -errno.
  std::function<int(int fd, sg_io_hdr* header)> sg_io;
  // ioctl(fd, SG_SCSI_RESET, device reset): 0, or -errno.
  std::function<int(int fd)> reset_device;
  // Name of the group that owns a file; empty when there is none to tell.
  std::function<std::string(const std::string& path)> owning_group;

  static sg_system real();
};

struct sg_io_setup {
  std::string sysfs = "/sys";
  std::string devdir = "/dev";
  sg_system system = sg_system::real();
};

// A SCSI device the manager found, usable or not.
struct sg_target {
  std::uint8_t host = 0;     // ASPI host adapter number
  unsigned kernel_host = 0;  // the H of H:C:T:L
  std::uint8_t target = 0;
  std::uint8_t type = 0;  // peripheral device type, from sysfs
  std::string node;       // /dev/sg3, /dev/sr0, /dev/sda
  bool usable = false;    // it could be opened when the manager looked
};

class sg_io_manager final : public aspi_manager {
 public:
  // Looks at sysfs and opens each device once to see that it can be used.
  explicit sg_io_manager(sg_io_setup setup = {});

  // Every request is carried out before send() returns: SG_IO blocks.
  std::uint32_t send(void* request_block) override;
  std::uint32_t support_info() override;

  const std::vector<sg_target>& targets() const { return targets_; }
  std::uint8_t host_count() const { return static_cast<std::uint8_t>(kernel_hosts_.size()); }
  // One line for each device that could not be opened, saying why.
  const std::vector<std::string>& reasons() const { return reasons_; }

  // Milliseconds the kernel gives a command before it gives up on it.
  static constexpr unsigned transfer_timeout_ms = 60000;
  static constexpr unsigned query_timeout_ms = 15000;

 private:
  const sg_target* find(std::uint8_t host, std::uint8_t target) const;
  std::uint8_t execute(void* request_block, const sg_target& device);
  std::uint8_t reset(const sg_target& device);

  sg_io_setup setup_;
  std::vector<unsigned> kernel_hosts_;         // ascending; index = ASPI number
  std::vector<std::string> host_identifiers_;  // the kernel driver's name
  std::vector<sg_target> targets_;
  std::vector<std::string> reasons_;
};

}  // namespace scsi
