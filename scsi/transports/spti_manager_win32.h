// An ASPI manager over Windows' own SCSI pass-through: the disk and CD-ROM
// class devices take CDBs through IOCTL_SCSI_PASS_THROUGH_DIRECT, and
// IOCTL_SCSI_GET_ADDRESS tells where each device sits. Every (port, path)
// pair found becomes one host adapter, numbered from 0 in ascending order;
// a device's TargetId is its target, and only LUN 0 is presented. A
// transfer is overlapped: send() starts it and answers SS_PENDING, and a
// waiter thread writes the results when the driver ends it, so the caller's
// poll loop (and the window it keeps alive) runs meanwhile. Windows builds
// only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scsi/aspi_manager.h"

namespace scsi {

// The system calls the manager makes. The defaults are the real ones; tests
// give fakes. `error` receives the system's error code when a call fails.
struct spti_system {
  // CreateFileA for reading and writing, shared both ways, OPEN_EXISTING,
  // for overlapped use. INVALID_HANDLE_VALUE on failure.
  std::function<HANDLE(const std::string& path, DWORD& error)> open;
  // DeviceIoControl carried out to its end.
  std::function<bool(HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out,
                     DWORD out_bytes, DWORD& returned, DWORD& error)>
      control;
  // DeviceIoControl started with `overlapped` (its event set by the
  // caller): true when it ended at once; false with ERROR_IO_PENDING when
  // it runs on, to be ended by `wait`; false with any other error when it
  // failed.
  std::function<bool(HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out,
                     DWORD out_bytes, OVERLAPPED& overlapped, DWORD& returned, DWORD& error)>
      start;
  // Waits until a started control has ended (GetOverlappedResult): true
  // when it succeeded.
  std::function<bool(HANDLE handle, OVERLAPPED& overlapped, DWORD& returned, DWORD& error)> wait;
  // Asks the driver to end a started control early (CancelIoEx where the
  // system has it, else CancelIo, which cancels the calling thread's I/O: the
  // request layer aborts from the thread that sent).
  std::function<void(HANDLE handle, OVERLAPPED& overlapped)> cancel;
  std::function<void(HANDLE handle)> close;
  // The devices to try, in the order tried.
  std::function<std::vector<std::string>()> device_names;
};
spti_system real_spti_system();

// \\.\PhysicalDrive0-15, \\.\CdRom0-15, then \\.\X: for every CD-ROM and
// removable drive letter (a device may be reachable only through its letter).
std::vector<std::string> spti_device_names();

// What SC_HA_INQUIRY reports as the driver when every device was refused
// for lack of rights; the device dialog shows it as the driver text.
inline constexpr const char* spti_need_admin_id = "RUN AS ADMIN";

class spti_manager final : public aspi_manager {
 public:
  // Looks for devices at once. When every device refused access, the
  // manager presents one host adapter without devices whose driver text is
  // spti_need_admin_id, as the device dialog shows nothing else; a front
  // end that prints access_problem() itself passes false, so that host
  // adapters numbered after ours do not move.
  explicit spti_manager(spti_system system = real_spti_system(), bool denial_adapter = true);
  ~spti_manager() override;
  spti_manager(const spti_manager&) = delete;
  spti_manager& operator=(const spti_manager&) = delete;

  // SC_EXEC_SCSI_CMD answers SS_PENDING while the driver works; the
  // results, then SRB_Status (release store), come from another thread. A
  // transfer the driver times out ends SS_ABORTED, as does one that
  // SC_ABORT_SRB names: from then on nothing is written into its block.
  std::uint32_t send(void* request_block) override;
  std::uint32_t support_info() override;

  // One line when a device was refused for lack of rights, naming the first
  // one; empty otherwise.
  const std::string& access_problem() const { return access_problem_; }

  struct device {
    std::string path;
    std::uint8_t host = 0;  // ASPI host adapter number
    std::uint8_t target = 0;
    std::uint8_t type = 0x1F;  // peripheral device type from INQUIRY
    std::uint8_t path_id = 0;  // the system's address, repeated in each request
  };
  const std::vector<device>& devices() const { return devices_; }

  // One pass-through request's own memory (in the .cpp).
  struct transfer;

 private:
  struct port_path {
    std::uint8_t port;
    std::uint8_t path;
    auto operator<=>(const port_path&) const = default;
  };
  void enumerate();
  const device* find(std::uint8_t host, std::uint8_t target) const;
  // Sends one CDB to `target` and waits for its end (enumeration only).
  // Fills the results into the block and returns its ASPI status (not yet
  // written).
  std::uint8_t pass_through_now(const device& target, void* request_block);
  // Starts one CDB; SS_PENDING when the driver runs on, else the final
  // status with the results already in the block (status not written).
  std::uint8_t start_pass_through(const device& target, void* request_block);
  std::uint8_t abort(void* pending_block);

  // Shared with the waiter threads, which may outlive the manager when the
  // program ends during a request.
  std::shared_ptr<const spti_system> system_;
  std::vector<port_path> hosts_;  // index = host adapter number
  std::vector<device> devices_;
  std::string access_problem_;
  bool denial_adapter_;
  // The last transfer started. Each has its own pass-through block, buffer
  // and event, so a transfer the caller gave up on may stay in the driver
  // while the next one runs.
  std::mutex mutex_;
  std::shared_ptr<transfer> latest_;
};

}  // namespace scsi
