#include "scsi/transports/sg_io_manager_linux.h"

#include <fcntl.h>
#include <grp.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <utility>

#include "scsi/aspi_defs.h"

namespace scsi {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t max_targets = 8;
constexpr std::uint8_t adapter_scsi_id = 7;
// Unknown or no device, as sysfs reports a type it cannot read.
constexpr std::uint8_t type_unknown = 0x1F;

// The kernel's host and driver codes (host_status, low nibble of
// driver_status), as the sg documentation lists them.
constexpr unsigned did_no_connect = 0x01;
constexpr unsigned did_time_out = 0x03;
constexpr unsigned did_bad_target = 0x04;
constexpr unsigned did_parity = 0x06;
constexpr unsigned did_reset = 0x08;
constexpr unsigned driver_timeout = 0x06;
constexpr unsigned driver_sense = 0x08;

// Commands that move blocks of the medium: a short transfer of these is a
// failure, while INQUIRY or MODE SENSE may well answer less than was asked.
bool moves_blocks(std::uint8_t op) {
  switch (op) {
    case 0x08:
    case 0x28:
    case 0xA8:
    case 0x88:  // READ(6/10/12/16)
    case 0x0A:
    case 0x2A:
    case 0xAA:
    case 0x8A:  // WRITE(6/10/12/16)
    case 0x2E:  // WRITE AND VERIFY(10)
      return true;
    default:
      return false;
  }
}

// Commands that send data to the device, when the flags leave it to the CDB.
bool sends_data(std::uint8_t op) {
  switch (op) {
    case 0x0A:
    case 0x2A:
    case 0xAA:
    case 0x8A:
    case 0x2E:
    case 0x15:
    case 0x55:  // MODE SELECT(6/10)
    case 0x3B:  // WRITE BUFFER
      return true;
    default:
      return false;
  }
}

struct scsi_address {
  unsigned host, channel, target, lun;
};

// "H:C:T:L", four decimal numbers and nothing else.
std::optional<scsi_address> parse_address(const std::string& text) {
  unsigned parts[4] = {};
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return std::nullopt;
    unsigned long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      if (value > 0xFFFFFFu) return std::nullopt;
      ++at;
    }
    parts[i] = static_cast<unsigned>(value);
    if (i < 3) {
      if (at >= text.size() || text[at] != ':') return std::nullopt;
      ++at;
    }
  }
  if (at != text.size()) return std::nullopt;
  return scsi_address{parts[0], parts[1], parts[2], parts[3]};
}

std::string first_line(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

std::uint8_t read_type(const fs::path& file) {
  const std::string text = first_line(file);
  if (text.empty() || text.size() > 3 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return type_unknown;
  }
  const int value = std::stoi(text);
  return value <= 0x1F ? static_cast<std::uint8_t>(value) : type_unknown;
}

std::vector<fs::path> sorted_entries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code failed;
  for (fs::directory_iterator it(folder, failed), end; !failed && it != end; it.increment(failed)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

void put_text(std::uint8_t (&field)[16], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

std::uint32_t finish(void* request_block, std::uint8_t status) {
  auto& header = *static_cast<SRB_Header*>(request_block);
  std::atomic_ref<std::uint8_t>(header.SRB_Status).store(status, std::memory_order_release);
  return status;
}

std::uint8_t host_adapter_status(unsigned host_status) {
  switch (host_status) {
    case did_no_connect:
    case did_bad_target:
      return hastat_selection_timeout;
    case did_time_out:
      return hastat_command_timeout;
    case did_parity:
      return hastat_parity_error;
    case did_reset:
      return hastat_bus_reset;
    default:
      return hastat_phase_error;
  }
}

bool gone(int error) { return error == ENOENT || error == ENODEV || error == ENXIO; }

}  // namespace

sg_system sg_system::real() {
  sg_system system;
  system.open = [](const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  };
  system.close = [](int fd) { ::close(fd); };
  system.sg_io = [](int fd, sg_io_hdr* header) {
    return ::ioctl(fd, SG_IO, header) == 0 ? 0 : -errno;
  };
  system.reset_device = [](int fd) {
    int what = SG_SCSI_RESET_DEVICE;
    return ::ioctl(fd, SG_SCSI_RESET, &what) == 0 ? 0 : -errno;
  };
  system.owning_group = [](const std::string& path) -> std::string {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || info.st_gid == 0) return {};
    const group* owner = ::getgrgid(info.st_gid);
    return owner != nullptr ? owner->gr_name : std::string{};
  };
  return system;
}

sg_io_manager::sg_io_manager(sg_io_setup setup) : setup_(std::move(setup)) {
  const fs::path sysfs(setup_.sysfs);
  struct found {
    unsigned kernel_host;
    std::uint8_t target;
    std::uint8_t type;
    std::string name;
  };
  // Keyed by (kernel host, target). The generic nodes come first and win;
  // a block node stands in only for a device without one.
  std::map<std::pair<unsigned, std::uint8_t>, found> devices;
  for (const char* kind : {"class/scsi_generic", "class/block"}) {
    for (const fs::path& entry : sorted_entries(sysfs / kind)) {
      std::error_code failed;
      const fs::path link = fs::read_symlink(entry / "device", failed);
      if (failed) continue;  // a partition, or no device behind it
      const auto address = parse_address(link.filename().string());
      // ASPI has one bus per adapter and no logical units beyond 0.
      if (!address || address->channel != 0 || address->lun != 0 ||
          address->target >= max_targets) {
        continue;
      }
      const auto target = static_cast<std::uint8_t>(address->target);
      devices.try_emplace({address->host, target},
                          found{address->host, target, read_type(entry / "device" / "type"),
                                entry.filename().string()});
    }
  }

  for (const auto& [key, device] : devices) {
    if (kernel_hosts_.empty() || kernel_hosts_.back() != device.kernel_host) {
      if (kernel_hosts_.size() == 255) break;
      kernel_hosts_.push_back(device.kernel_host);
      const std::string host_name = "host" + std::to_string(device.kernel_host);
      std::string driver = first_line(sysfs / "class/scsi_host" / host_name / "proc_name");
      host_identifiers_.push_back(driver.empty() ? host_name : driver);
    }
    sg_target target;
    target.host = static_cast<std::uint8_t>(kernel_hosts_.size() - 1);
    target.kernel_host = device.kernel_host;
    target.target = device.target;
    target.type = device.type;
    target.node = (fs::path(setup_.devdir) / device.name).string();

    const int fd = setup_.system.open(target.node, O_RDONLY | O_NONBLOCK);
    target.usable = fd >= 0;
    if (target.usable) {
      setup_.system.close(fd);
    } else {
      std::string why = target.node + " (host adapter " + std::to_string(target.host) +
                        ", target " + std::to_string(target.target) + "): ";
      if (fd == -EACCES || fd == -EPERM) {
        why += "permission denied";
        const std::string group = setup_.system.owning_group(target.node);
        if (!group.empty()) why += "; add yourself to group '" + group + "'";
      } else {
        why += std::strerror(-fd);
      }
      reasons_.push_back(why);
    }
    targets_.push_back(target);
  }
}

const sg_target* sg_io_manager::find(std::uint8_t host, std::uint8_t target) const {
  for (const sg_target& device : targets_) {
    if (device.host == host && device.target == target) return device.usable ? &device : nullptr;
  }
  return nullptr;
}

std::uint32_t sg_io_manager::send(void* request_block) {
  if (request_block == nullptr) return SS_INVALID_SRB;
  const auto& header = *static_cast<const SRB_Header*>(request_block);
  const std::uint8_t host = header.SRB_HaId;
  const bool cmd_known = header.SRB_Cmd <= SC_RESET_DEV;
  if (!cmd_known) return finish(request_block, SS_INVALID_CMD);
  if (host >= host_count()) return finish(request_block, SS_INVALID_HA);

  switch (header.SRB_Cmd) {
    case SC_HA_INQUIRY: {
      auto& inquiry = *static_cast<SRB_HAInquiry*>(request_block);
      inquiry.HA_Count = host_count();
      inquiry.HA_SCSI_ID = adapter_scsi_id;
      put_text(inquiry.HA_ManagerId, "LINUX SG_IO");
      put_text(inquiry.HA_Identifier, host_identifiers_[host]);
      // As adapters describe themselves: no alignment needed (bytes 0-1), no
      // residual count (2), 8 targets (3), 64 KiB per transfer (4-7, LE),
      // which every USB bridge takes in one request.
      std::uint8_t unique[16] = {0, 0, 0, max_targets, 0, 0, 0x01, 0};
      std::memcpy(inquiry.HA_Unique, unique, sizeof unique);
      return finish(request_block, SS_COMP);
    }
    case SC_GET_DEV_TYPE: {
      auto& device = *static_cast<SRB_GDEVBlock*>(request_block);
      const sg_target* found = find(host, device.SRB_Target);
      if (found == nullptr || device.SRB_Lun != 0) return finish(request_block, SS_NO_DEVICE);
      device.SRB_DeviceType = found->type;
      return finish(request_block, SS_COMP);
    }
    case SC_ABORT_SRB:
      // Nothing is ever pending here: every request ended within its send().
      return finish(request_block, SS_ABORT_FAIL);
    case SC_RESET_DEV: {
      auto& reset_block = *static_cast<SRB_BusDeviceReset*>(request_block);
      const sg_target* found = find(host, reset_block.SRB_Target);
      if (found == nullptr || reset_block.SRB_Lun != 0) return finish(request_block, SS_NO_DEVICE);
      return finish(request_block, reset(*found));
    }
    default: {
      const auto& exec = *static_cast<const SRB_ExecSCSICmd*>(request_block);
      const sg_target* found = find(host, exec.SRB_Target);
      if (found == nullptr || exec.SRB_Lun != 0) return finish(request_block, SS_NO_DEVICE);
      if (exec.SRB_CDBLen == 0 || exec.SRB_CDBLen > sizeof exec.CDBByte ||
          (exec.SRB_BufLen > 0 && exec.SRB_BufPointer == nullptr)) {
        return finish(request_block, SS_INVALID_SRB);
      }
      return finish(request_block, execute(request_block, *found));
    }
  }
}

std::uint8_t sg_io_manager::execute(void* request_block, const sg_target& device) {
  auto& exec = *static_cast<SRB_ExecSCSICmd*>(request_block);
  exec.SRB_HaStat = 0;
  exec.SRB_TargStat = 0;
  const std::uint8_t op = exec.CDBByte[0];

  int direction = SG_DXFER_NONE;
  if (exec.SRB_BufLen > 0) {
    if ((exec.SRB_Flags & SRB_DIR_IN) != 0) {
      direction = SG_DXFER_FROM_DEV;
    } else if ((exec.SRB_Flags & SRB_DIR_OUT) != 0) {
      direction = SG_DXFER_TO_DEV;
    } else {
      direction = sends_data(op) ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
    }
  }
  // Read-only is enough for reading, and is all that a user with read
  // access to a CD-ROM drive gets; the kernel lets the reading commands
  // through on such a descriptor.
  const bool writing = direction == SG_DXFER_TO_DEV || sends_data(op);
  const int fd = setup_.system.open(device.node, (writing ? O_RDWR : O_RDONLY) | O_NONBLOCK);
  if (fd < 0) return gone(-fd) ? SS_NO_DEVICE : SS_ERR;

  // The sense bytes go straight into the block: SRB_SenseLen of them fit
  // behind the CDB, however long the declared SenseArea is.
  auto* sense =
      reinterpret_cast<std::uint8_t*>(request_block) + offsetof(SRB_ExecSCSICmd, SenseArea);
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = direction;
  io.cmd_len = exec.SRB_CDBLen;
  io.mx_sb_len = exec.SRB_SenseLen;
  io.dxfer_len = exec.SRB_BufLen;
  io.dxferp = exec.SRB_BufPointer;
  io.cmdp = exec.CDBByte;
  io.sbp = sense;
  io.timeout = moves_blocks(op) ? transfer_timeout_ms : query_timeout_ms;
  const int result = setup_.system.sg_io(fd, &io);
  setup_.system.close(fd);
  if (result < 0) return gone(-result) ? SS_NO_DEVICE : SS_ERR;

  exec.SRB_TargStat = io.status;
  const unsigned driver = io.driver_status & 0x0Fu;
  if (io.host_status != 0) {
    exec.SRB_HaStat = host_adapter_status(io.host_status);
  } else if (driver == driver_timeout) {
    exec.SRB_HaStat = hastat_command_timeout;
  } else if (driver != 0 && driver != driver_sense) {
    exec.SRB_HaStat = hastat_phase_error;
  } else if (io.status == 0 && io.resid > 0 && direction != SG_DXFER_NONE && moves_blocks(op)) {
    // Fewer blocks than asked for: the caller would use stale bytes.
    exec.SRB_HaStat = hastat_over_underrun;
  }
  // The kernel gave the device the request layer's whole time limit: a
  // time-out ends as an abort, which the block readers do not try again
  // (twenty more minutes of a stuck drive would help nobody).
  if (exec.SRB_HaStat == hastat_command_timeout) return SS_ABORTED;
  return io.status == 0 && exec.SRB_HaStat == 0 ? SS_COMP : SS_ERR;
}

std::uint8_t sg_io_manager::reset(const sg_target& device) {
  const int fd = setup_.system.open(device.node, O_RDWR | O_NONBLOCK);
  if (fd < 0) return gone(-fd) ? SS_NO_DEVICE : SS_ERR;
  const int result = setup_.system.reset_device(fd);
  setup_.system.close(fd);
  return result == 0 ? SS_COMP : SS_ERR;
}

std::uint32_t sg_io_manager::support_info() {
  if (kernel_hosts_.empty()) return std::uint32_t{SS_NO_ADAPTERS} << 8;
  return std::uint32_t{SS_COMP} << 8 | host_count();
}

}  // namespace scsi
