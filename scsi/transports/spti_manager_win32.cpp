#include "scsi/transports/spti_manager_win32.h"

#include <ntddscsi.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/kernel32_win32.h"
#include "scsi/aspi_defs.h"
#include "scsi/inquiry.h"

namespace scsi {
namespace {

constexpr std::uint8_t adapter_scsi_id = 7;
constexpr std::uint8_t max_targets = 8;
constexpr const char* manager_id = "WINDOWS SPTI";

// The waits of the request layer above, in whole seconds: it stops waiting
// after 60 s on a transfer and 10 s on anything else, so the device is given
// as long and no longer.
constexpr ULONG transfer_timeout_seconds = 60;
constexpr ULONG query_timeout_seconds = 10;

constexpr std::uint8_t inquiry_bytes = 36;

// Room for the most sense any caller asks for in practice.
constexpr std::uint8_t sense_room = 32;

struct pass_through_block {
  SCSI_PASS_THROUGH_DIRECT request;
  ULONG align;  // keeps the sense bytes on a 4-byte boundary
  UCHAR sense[sense_room];
};

bool moves_blocks(std::uint8_t operation) {
  switch (operation) {
    case 0x08:
    case 0x0A:  // READ(6), WRITE(6)
    case 0x28:
    case 0x2A:
    case 0x2E:
    case 0x2F:  // READ/WRITE/WRITE AND VERIFY/VERIFY(10)
    case 0xA8:
    case 0xAA:  // READ(12), WRITE(12)
      return true;
    default:
      return false;
  }
}

bool reads_blocks(std::uint8_t operation) {
  return operation == 0x08 || operation == 0x28 || operation == 0xA8;
}

bool sends_data(std::uint8_t operation) {
  switch (operation) {
    case 0x04:
    case 0x07:
    case 0x0A:
    case 0x15:
    case 0x1D:  // FORMAT, REASSIGN, WRITE(6),
    case 0x2A:
    case 0x2E:
    case 0x3B:
    case 0x55:
    case 0xAA:  // MODE SELECT, SEND DIAG., ...
      return true;
    default:
      return false;
  }
}

// SRB_DIR_IN or SRB_DIR_OUT alone name the direction. The request layer
// leaves both off on its queries (INQUIRY, READ CAPACITY), as ASPI allows:
// the command then decides.
UCHAR data_direction(const SRB_ExecSCSICmd& exec) {
  if (exec.SRB_BufLen == 0) return SCSI_IOCTL_DATA_UNSPECIFIED;
  const std::uint8_t direction = exec.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
  if (direction == SRB_DIR_IN) return SCSI_IOCTL_DATA_IN;
  if (direction == SRB_DIR_OUT) return SCSI_IOCTL_DATA_OUT;
  if (direction != 0) return SCSI_IOCTL_DATA_UNSPECIFIED;
  return sends_data(exec.CDBByte[0]) ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN;
}

void put_text(std::uint8_t (&field)[16], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

std::uint8_t finish(void* request_block, std::uint8_t status) {
  // Results first, the status last: a caller polling it with an acquire
  // load then sees everything else.
  std::atomic_ref<std::uint8_t>(static_cast<SRB_Header*>(request_block)->SRB_Status)
      .store(status, std::memory_order_release);
  return status;
}

bool device_missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_DEVICE_NOT_CONNECTED;
}

// The driver gave up on the device after the request's TimeOutValue.
bool timed_out(DWORD error) { return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT; }

void store_status(void* request_block, std::uint8_t status) {
  std::atomic_ref<std::uint8_t>(static_cast<SRB_Header*>(request_block)->SRB_Status)
      .store(status, std::memory_order_release);
}

// CancelIoEx came with Vista; the program also runs where only CancelIo is.
using cancel_io_ex_entry = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
cancel_io_ex_entry cancel_io_ex() {
  static const auto entry = platform::kernel32_entry<cancel_io_ex_entry>("CancelIoEx");
  return entry;
}

}  // namespace

// One transfer's own pass-through block, page-aligned buffer, event and
// device handle. It lives until both the manager and its waiter are done
// with it, so a driver that ends a request late writes into memory that is
// still ours, never into a caller's block or buffer.
struct spti_manager::transfer {
  explicit transfer(std::shared_ptr<const spti_system> calls) : system(std::move(calls)) {}
  ~transfer() {
    close_device();
    if (overlapped.hEvent != nullptr) CloseHandle(overlapped.hEvent);
    if (buffer != nullptr) VirtualFree(buffer, 0, MEM_RELEASE);
  }
  transfer(const transfer&) = delete;
  transfer& operator=(const transfer&) = delete;
  void close_device() {
    if (device != INVALID_HANDLE_VALUE) system->close(device);
    device = INVALID_HANDLE_VALUE;
  }

  std::shared_ptr<const spti_system> system;
  pass_through_block block{};
  void* buffer = nullptr;
  OVERLAPPED overlapped{};
  HANDLE device = INVALID_HANDLE_VALUE;
  // The request block still waiting for this transfer's results; null once
  // it has them or its caller has given up on it.
  std::mutex lock;
  void* caller = nullptr;
};

namespace {

using transfer_record = spti_manager::transfer;

// Fills the pass-through block for the caller's CDB, with the transfer's own
// buffer (holding the caller's bytes for a write). False when no buffer
// could be had.
bool prepare(transfer_record& one, std::uint8_t path_id, std::uint8_t target_id,
             const SRB_ExecSCSICmd& exec) {
  if (exec.SRB_BufLen > 0) {
    // VirtualAlloc hands out whole pages, aligned as any adapter may need.
    one.buffer = VirtualAlloc(nullptr, exec.SRB_BufLen, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (one.buffer == nullptr) return false;
  }
  const UCHAR direction = data_direction(exec);
  SCSI_PASS_THROUGH_DIRECT& request = one.block.request;
  request.Length = sizeof request;
  // The class driver puts in its device's own address; a port driver would
  // go by these.
  request.PathId = path_id;
  request.TargetId = target_id;
  request.CdbLength = exec.SRB_CDBLen;
  request.SenseInfoLength = std::min(exec.SRB_SenseLen, sense_room);
  request.SenseInfoOffset = offsetof(pass_through_block, sense);
  request.DataIn = direction;
  request.DataTransferLength = exec.SRB_BufLen;
  request.DataBuffer = one.buffer;
  request.TimeOutValue =
      moves_blocks(exec.CDBByte[0]) ? transfer_timeout_seconds : query_timeout_seconds;
  std::memcpy(request.Cdb, exec.CDBByte, exec.SRB_CDBLen);
  if (direction == SCSI_IOCTL_DATA_OUT)
    std::memcpy(one.buffer, exec.SRB_BufPointer, exec.SRB_BufLen);
  return true;
}

// The driver's answer, into the caller's block and buffer; returns the ASPI
// status (not yet written).
std::uint8_t conclude(transfer_record& one, bool ok, DWORD error, void* request_block) {
  auto& exec = *static_cast<SRB_ExecSCSICmd*>(request_block);
  const SCSI_PASS_THROUGH_DIRECT& request = one.block.request;
  if (!ok) {
    if (device_missing(error)) return SS_NO_DEVICE;
    // A time-out is final: the block readers retry an error, and twenty
    // tries of a minute each would hold the job for twenty minutes.
    if (timed_out(error)) {
      exec.SRB_HaStat = hastat_command_timeout;
      return SS_ABORTED;
    }
    if (error == ERROR_OPERATION_ABORTED) return SS_ABORTED;
    exec.SRB_HaStat = hastat_selection_timeout;
    return SS_ERR;
  }
  if (request.ScsiStatus != 0) {
    exec.SRB_TargStat = request.ScsiStatus;
    // The block may hold more sense than SenseArea's declared 16 bytes:
    // SRB_SenseLen says how much room follows the CDB.
    const std::size_t sense =
        std::min<std::size_t>({exec.SRB_SenseLen, request.SenseInfoLength, sense_room});
    std::memcpy(static_cast<std::uint8_t*>(request_block) + offsetof(SRB_ExecSCSICmd, SenseArea),
                one.block.sense, sense);
    return SS_ERR;
  }
  const std::size_t moved = std::min<std::size_t>(request.DataTransferLength, exec.SRB_BufLen);
  if (request.DataIn == SCSI_IOCTL_DATA_IN) std::memcpy(exec.SRB_BufPointer, one.buffer, moved);
  // A block read that came back short would leave stale bytes in the
  // caller's buffer; shorter answers to queries are normal.
  if (reads_blocks(exec.CDBByte[0]) && moved < exec.SRB_BufLen) {
    exec.SRB_HaStat = hastat_over_underrun;
    return SS_ERR;
  }
  return SS_COMP;
}

// The waiter's end of a pending transfer: the results and the status go to
// the caller unless it has given up; a late answer is dropped.
void await_end(const std::shared_ptr<transfer_record>& one) {
  DWORD returned = 0;
  DWORD error = ERROR_SUCCESS;
  const bool ok = one->system->wait(one->device, one->overlapped, returned, error);
  const std::lock_guard hold(one->lock);
  if (one->caller != nullptr) {
    store_status(one->caller, conclude(*one, ok, error, one->caller));
    one->caller = nullptr;
  }
  one->close_device();
}

}  // namespace

std::vector<std::string> spti_device_names() {
  std::vector<std::string> names;
  for (int n = 0; n < 16; ++n) names.push_back("\\\\.\\PhysicalDrive" + std::to_string(n));
  for (int n = 0; n < 16; ++n) names.push_back("\\\\.\\CdRom" + std::to_string(n));
  const DWORD letters = GetLogicalDrives();
  // Windows lets any user open a CD-ROM or a removable drive through its
  // letter, where the class device may need an administrator. Fixed disks'
  // letters are volumes, reachable only with the rights their disk needs
  // anyway. A: and B: are floppy drives, which never answer SCSI commands;
  // asking would only spin them.
  for (int letter = 2; letter < 26; ++letter) {
    if ((letters >> letter & 1) == 0) continue;
    const char drive = static_cast<char>('A' + letter);
    const char root[] = {drive, ':', '\\', '\0'};
    const UINT kind = GetDriveTypeA(root);
    if (kind != DRIVE_CDROM && kind != DRIVE_REMOVABLE) continue;
    names.push_back(std::string("\\\\.\\") + drive + ':');
  }
  return names;
}

spti_system real_spti_system() {
  spti_system system;
  system.open = [](const std::string& path, DWORD& error) {
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    return handle;
  };
  system.control = [](HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out,
                      DWORD out_bytes, DWORD& returned, DWORD& error) {
    // A handle opened for overlapped use takes an OVERLAPPED on every call.
    returned = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
      error = GetLastError();
      return false;
    }
    BOOL ok = DeviceIoControl(handle, code, in, in_bytes, out, out_bytes, &returned, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      ok = GetOverlappedResult(handle, &overlapped, &returned, TRUE);
    }
    error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(overlapped.hEvent);
    return ok != FALSE;
  };
  system.start = [](HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out, DWORD out_bytes,
                    OVERLAPPED& overlapped, DWORD& returned, DWORD& error) {
    returned = 0;
    const BOOL ok =
        DeviceIoControl(handle, code, in, in_bytes, out, out_bytes, &returned, &overlapped);
    error = ok ? ERROR_SUCCESS : GetLastError();
    return ok != FALSE;
  };
  system.wait = [](HANDLE handle, OVERLAPPED& overlapped, DWORD& returned, DWORD& error) {
    const BOOL ok = GetOverlappedResult(handle, &overlapped, &returned, TRUE);
    error = ok ? ERROR_SUCCESS : GetLastError();
    return ok != FALSE;
  };
  system.cancel = [](HANDLE handle, OVERLAPPED& overlapped) {
    if (const cancel_io_ex_entry entry = cancel_io_ex(); entry != nullptr) {
      entry(handle, &overlapped);
    } else {
      CancelIo(handle);
    }
  };
  system.close = [](HANDLE handle) { CloseHandle(handle); };
  system.device_names = spti_device_names;
  return system;
}

spti_manager::spti_manager(spti_system system, bool denial_adapter)
    : system_(std::make_shared<const spti_system>(std::move(system))),
      denial_adapter_(denial_adapter) {
  enumerate();
}

// A transfer still in the driver is left to its waiter, which owns it too.
spti_manager::~spti_manager() = default;

void spti_manager::enumerate() {
  struct found {
    std::string path;
    SCSI_ADDRESS address;
  };
  std::vector<found> located;
  for (const std::string& path : system_->device_names()) {
    DWORD error = ERROR_SUCCESS;
    const HANDLE handle = system_->open(path, error);
    if (handle == INVALID_HANDLE_VALUE) {
      if (error == ERROR_ACCESS_DENIED && access_problem_.empty()) {
        access_problem_ = "Access to " + path + " was denied: run the program as administrator.";
      }
      continue;
    }
    SCSI_ADDRESS address{};
    address.Length = sizeof address;
    DWORD returned = 0;
    const bool ok = system_->control(handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address,
                                     sizeof address, returned, error);
    system_->close(handle);
    if (!ok || address.Lun != 0 || address.TargetId >= max_targets) continue;
    // A drive letter and its class device are one device at one address.
    const bool seen = std::any_of(located.begin(), located.end(), [&](const found& other) {
      return other.address.PortNumber == address.PortNumber &&
             other.address.PathId == address.PathId && other.address.TargetId == address.TargetId;
    });
    if (!seen) located.push_back({path, address});
  }

  for (const found& each : located) {
    const port_path key{each.address.PortNumber, each.address.PathId};
    if (std::find(hosts_.begin(), hosts_.end(), key) == hosts_.end()) hosts_.push_back(key);
  }
  std::sort(hosts_.begin(), hosts_.end());

  for (const found& each : located) {
    const port_path key{each.address.PortNumber, each.address.PathId};
    device entry;
    entry.path = each.path;
    entry.host =
        static_cast<std::uint8_t>(std::find(hosts_.begin(), hosts_.end(), key) - hosts_.begin());
    entry.target = each.address.TargetId;
    entry.path_id = each.address.PathId;
    // Until INQUIRY says otherwise, the kind of class device it came through.
    const bool cdrom = each.path.find("CdRom") != std::string::npos;
    entry.type = cdrom ? 0x05 : 0x00;
    request_block block{};
    std::uint8_t inquiry[inquiry_bytes] = {};
    build_inquiry(block.exec, inquiry, inquiry_bytes);
    block.exec.SRB_Flags = SRB_DIR_IN;
    if (pass_through_now(entry, &block) == SS_COMP) {
      // Qualifier 3: no device can be at this address.
      if ((inquiry[0] >> 5) == 3) continue;
      entry.type = inquiry[0] & 0x1F;
    }
    devices_.push_back(entry);
  }
  std::sort(devices_.begin(), devices_.end(), [](const device& a, const device& b) {
    return a.host != b.host ? a.host < b.host : a.target < b.target;
  });
}

const spti_manager::device* spti_manager::find(std::uint8_t host, std::uint8_t target) const {
  for (const device& each : devices_) {
    if (each.host == host && each.target == target) return &each;
  }
  return nullptr;
}

std::uint32_t spti_manager::support_info() {
  if (!hosts_.empty())
    return std::uint32_t{SS_COMP} << 8 | static_cast<std::uint32_t>(hosts_.size());
  // One host adapter without devices carries the message.
  if (denial_adapter_ && !access_problem_.empty()) return std::uint32_t{SS_COMP} << 8 | 1u;
  return std::uint32_t{SS_NO_ADAPTERS} << 8;
}

std::uint32_t spti_manager::send(void* request_block) {
  if (request_block == nullptr) return SS_INVALID_SRB;
  const auto& header = *static_cast<const SRB_Header*>(request_block);
  const bool only_message = denial_adapter_ && hosts_.empty() && !access_problem_.empty();
  const std::size_t host_total = only_message ? 1 : hosts_.size();
  const std::uint8_t host = header.SRB_HaId;
  switch (header.SRB_Cmd) {
    case SC_HA_INQUIRY: {
      if (host >= host_total) break;
      auto& inquiry = *static_cast<SRB_HAInquiry*>(request_block);
      inquiry.HA_Count = static_cast<std::uint8_t>(host_total);
      inquiry.HA_SCSI_ID = adapter_scsi_id;
      std::memset(inquiry.HA_Unique, 0, sizeof inquiry.HA_Unique);
      if (only_message) {
        put_text(inquiry.HA_ManagerId, spti_need_admin_id);
        put_text(inquiry.HA_Identifier, "NO ACCESS");
      } else {
        put_text(inquiry.HA_ManagerId, manager_id);
        put_text(inquiry.HA_Identifier, "PORT " + std::to_string(hosts_[host].port) + " PATH " +
                                            std::to_string(hosts_[host].path));
        // As adapters describe themselves: any buffer alignment (we copy
        // through our own), 8 targets, 64 KiB per transfer (LE).
        inquiry.HA_Unique[3] = max_targets;
        inquiry.HA_Unique[6] = 0x01;
      }
      return finish(request_block, SS_COMP);
    }
    case SC_GET_DEV_TYPE: {
      if (host >= host_total) break;
      auto& query = *static_cast<SRB_GDEVBlock*>(request_block);
      const device* found = find(host, query.SRB_Target);
      if (found == nullptr || query.SRB_Lun != 0) return finish(request_block, SS_NO_DEVICE);
      query.SRB_DeviceType = found->type;
      return finish(request_block, SS_COMP);
    }
    case SC_EXEC_SCSI_CMD: {
      if (host >= host_total) break;
      auto& exec = *static_cast<SRB_ExecSCSICmd*>(request_block);
      const device* found = find(host, exec.SRB_Target);
      if (found == nullptr || exec.SRB_Lun != 0) return finish(request_block, SS_NO_DEVICE);
      if (exec.SRB_CDBLen == 0 || exec.SRB_CDBLen > sizeof exec.CDBByte ||
          (exec.SRB_BufLen > 0 && exec.SRB_BufPointer == nullptr)) {
        return finish(request_block, SS_INVALID_SRB);
      }
      const std::uint8_t status = start_pass_through(*found, request_block);
      return status == SS_PENDING ? std::uint32_t{SS_PENDING} : finish(request_block, status);
    }
    case SC_RESET_DEV: {
      if (host >= host_total) break;
      const auto& reset = *static_cast<const SRB_BusDeviceReset*>(request_block);
      if (find(host, reset.SRB_Target) == nullptr || reset.SRB_Lun != 0) {
        return finish(request_block, SS_NO_DEVICE);
      }
      // The class driver owns the device's recovery, and a reset from here
      // would break into other programs' use of the same disk; the next
      // command finds the device as the driver left it.
      return finish(request_block, SS_COMP);
    }
    case SC_ABORT_SRB:
      if (host >= host_total) break;
      return finish(request_block, abort(static_cast<SRB_Abort*>(request_block)->SRB_ToAbort));
    default:
      return finish(request_block, SS_INVALID_CMD);
  }
  return finish(request_block, SS_INVALID_HA);
}

std::uint8_t spti_manager::pass_through_now(const device& target, void* request_block) {
  auto& exec = *static_cast<SRB_ExecSCSICmd*>(request_block);
  exec.SRB_HaStat = 0;
  exec.SRB_TargStat = 0;
  transfer one(system_);
  if (!prepare(one, target.path_id, target.target, exec)) {
    exec.SRB_HaStat = hastat_over_underrun;
    return SS_ERR;
  }
  DWORD error = ERROR_SUCCESS;
  one.device = system_->open(target.path, error);
  if (one.device == INVALID_HANDLE_VALUE) {
    if (device_missing(error)) return SS_NO_DEVICE;
    exec.SRB_HaStat = hastat_selection_timeout;
    return SS_ERR;
  }
  DWORD returned = 0;
  const bool ok = system_->control(one.device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &one.block,
                                   sizeof one.block, &one.block, sizeof one.block, returned, error);
  return conclude(one, ok, error, request_block);
}

std::uint8_t spti_manager::start_pass_through(const device& target, void* request_block) {
  auto& exec = *static_cast<SRB_ExecSCSICmd*>(request_block);
  exec.SRB_HaStat = 0;
  exec.SRB_TargStat = 0;
  auto one = std::make_shared<transfer>(system_);
  if (!prepare(*one, target.path_id, target.target, exec)) {
    exec.SRB_HaStat = hastat_over_underrun;
    return SS_ERR;
  }
  DWORD error = ERROR_SUCCESS;
  one->device = system_->open(target.path, error);
  if (one->device == INVALID_HANDLE_VALUE) {
    if (device_missing(error)) return SS_NO_DEVICE;
    exec.SRB_HaStat = hastat_selection_timeout;
    return SS_ERR;
  }
  one->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (one->overlapped.hEvent == nullptr) {
    exec.SRB_HaStat = hastat_selection_timeout;
    return SS_ERR;
  }
  DWORD returned = 0;
  const bool ended =
      system_->start(one->device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &one->block, sizeof one->block,
                     &one->block, sizeof one->block, one->overlapped, returned, error);
  if (ended || error != ERROR_IO_PENDING) return conclude(*one, ended, error, request_block);

  store_status(request_block, SS_PENDING);
  one->caller = request_block;
  {
    const std::lock_guard hold(mutex_);
    latest_ = one;
  }
  try {
    std::thread([one] { await_end(one); }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the caller waits here instead.
    await_end(one);
  }
  return SS_PENDING;
}

std::uint8_t spti_manager::abort(void* pending_block) {
  std::shared_ptr<transfer> one;
  {
    const std::lock_guard hold(mutex_);
    one = latest_;
  }
  if (one == nullptr || pending_block == nullptr) return SS_ABORT_FAIL;
  const std::lock_guard hold(one->lock);
  // Already answered: there is nothing left to abort.
  if (one->caller != pending_block) return SS_ABORT_FAIL;
  one->caller = nullptr;
  system_->cancel(one->device, one->overlapped);
  store_status(pending_block, SS_ABORTED);
  return SS_COMP;
}

}  // namespace scsi
