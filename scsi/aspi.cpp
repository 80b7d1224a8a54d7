#include "scsi/aspi.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <thread>

#include "platform/idle.h"
#include "scsi/aspi_defs.h"
#include "scsi/aspi_manager.h"
#include "scsi/device_state.h"
#include "scsi/inquiry.h"

namespace scsi {
namespace {

using clock = std::chrono::steady_clock;

// Every routine but cdrom_rw builds its request here: one request at a time
// is in flight, as the interface expects of a single-threaded caller.
request_block shared_block;

wait_limits limits;
hundredths_clock time_of_day = nullptr;

constexpr std::uint8_t op_read_capacity = 0x25;
constexpr std::uint8_t op_prevent_allow = 0x1E;
constexpr std::uint8_t inquiry_bytes = 100;
constexpr std::uint32_t readcap_buffer_bytes = 512;
// How long an abort may take to be acknowledged before we stop waiting.
constexpr std::chrono::milliseconds abort_wait{2000};

// The manager writes the status from its own thread (or from the hardware),
// so every pass must read memory, never a cached copy.
std::uint8_t status_of(request_block& block) {
  return std::atomic_ref<std::uint8_t>(block.header.SRB_Status).load(std::memory_order_acquire);
}

// How often a pending request lets the front end do its idle work (the
// Windows program's window answers its messages meanwhile).
constexpr std::chrono::milliseconds idle_interval{20};

bool wait_for_status(request_block& block, std::chrono::milliseconds limit) {
  clock::time_point deadline = clock::now() + limit;
  clock::time_point next_idle = clock::now() + idle_interval;
  for (unsigned passes = 0;; ++passes) {
    if (status_of(block) != SS_PENDING) return true;
    const clock::time_point now = clock::now();
    if (now >= deadline) return false;
    if (now >= next_idle && platform::idle_hook_installed()) {
      // The user asked to stop: the request is aborted as if its time had
      // run out, so a stuck drive does not hold the stop for a minute.
      if (!platform::run_idle_hook()) return false;
      // A box the user leaves open (the Windows program's "Stop the job?")
      // is no time the device took: the limit starts again after it.
      const clock::time_point after = clock::now();
      deadline += after - now;
      next_idle = after + idle_interval;
    }
    // Short requests end within a few passes; a long transfer should not
    // keep a whole core busy.
    if (passes < 1000) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
}

// The abort names the host adapter the request was sent to, not the one its
// block shows now: a manager that forwards requests may renumber the block.
void abort_request(request_block& pending, std::uint8_t host) {
  request_block abort{};
  abort.abort.SRB_Cmd = SC_ABORT_SRB;
  abort.abort.SRB_HaId = host;
  abort.abort.SRB_ToAbort = &pending;
  const std::uint32_t sent = SendASPI32Command(&abort);
  if (sent == SS_PENDING) wait_for_status(abort, abort_wait);
}

// Sends a request and waits for its final status. A manager that refuses
// the request outright (Wine's stub answers SS_INVALID_SRB and never sets
// the status) is believed at once; one that never completes is aborted when
// the time limit runs out.
std::uint8_t send_and_wait(request_block& block, std::chrono::milliseconds limit,
                           void (*after_send)() = nullptr) {
  const std::uint8_t host = block.header.SRB_HaId;
  const std::uint32_t sent = SendASPI32Command(&block);
  if (sent != SS_PENDING && sent != SS_COMP) return static_cast<std::uint8_t>(sent);
  if (after_send != nullptr) after_send();
  if (!wait_for_status(block, limit)) {
    abort_request(block, host);
    return SS_ABORTED;
  }
  return status_of(block);
}

request_block& fresh_shared_block() {
  std::memset(shared_block.bytes, 0, sizeof shared_block.bytes);
  return shared_block;
}

// Copies a text field of the inquiry: up to the first zero byte, the rest
// zero-filled, no terminator when all 16 bytes are used.
void copy_text16(char* out, const std::uint8_t* field) {
  std::size_t length = 0;
  while (length < 16 && field[length] != 0) ++length;
  std::memcpy(out, field, length);
  std::memset(out + length, 0, 16 - length);
}

// The transfer descriptor: READ(6)/WRITE(6) while the address and the count
// fit and the device takes them, the 10-byte form otherwise. A 6-byte CDB
// has 21 address bits (the next three are the logical unit) and takes a
// count of 0 as 256 blocks.
void fill_transfer_cdb(SRB_ExecSCSICmd& exec, const scsi_request& request, bool ten_byte_only) {
  const auto operation = static_cast<std::uint8_t>(request.command & 0xFF);
  const std::uint32_t address = request.block_address;
  const std::uint16_t count = request.block_count;
  const bool known_op = operation == op_read6 || operation == op_write6;
  const bool fits_6 = address <= cdb6_max_address && count != 0 && count <= cdb6_max_count;
  if (known_op && (!fits_6 || ten_byte_only)) {
    exec.SRB_CDBLen = 10;
    exec.CDBByte[0] = operation == op_read6 ? op_read10 : op_write10;
    exec.CDBByte[2] = static_cast<std::uint8_t>(address >> 24);
    exec.CDBByte[3] = static_cast<std::uint8_t>(address >> 16);
    exec.CDBByte[4] = static_cast<std::uint8_t>(address >> 8);
    exec.CDBByte[5] = static_cast<std::uint8_t>(address);
    exec.CDBByte[7] = static_cast<std::uint8_t>(count >> 8);
    exec.CDBByte[8] = static_cast<std::uint8_t>(count);
    return;
  }
  exec.SRB_CDBLen = 6;
  exec.CDBByte[0] = operation;
  exec.CDBByte[1] = static_cast<std::uint8_t>(address >> 16);
  exec.CDBByte[2] = static_cast<std::uint8_t>(address >> 8);
  exec.CDBByte[3] = static_cast<std::uint8_t>(address);
  exec.CDBByte[4] = static_cast<std::uint8_t>(count);
}

void fill_transfer(request_block& block, const scsi_request& request, std::uint8_t flags,
                   std::uint32_t unit_bytes, bool ten_byte_only) {
  std::memset(block.bytes, 0, sizeof block.bytes);
  SRB_ExecSCSICmd& exec = block.exec;
  exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
  exec.SRB_HaId = static_cast<std::uint8_t>(request.host_adapter);
  exec.SRB_Flags = flags;
  exec.SRB_Target = static_cast<std::uint8_t>(request.target);
  exec.SRB_BufLen = std::uint32_t{request.block_count} * unit_bytes;
  exec.SRB_BufPointer = request.buffer;
  exec.SRB_SenseLen = sense_bytes_asked;
  fill_transfer_cdb(exec, request, ten_byte_only);
}

// CHECK CONDITION with ILLEGAL REQUEST and "invalid command operation code",
// in fixed or descriptor sense data.
bool refused_as_unknown_command(const request_block& block) {
  constexpr std::uint8_t key_illegal_request = 0x05;
  constexpr std::uint8_t asc_invalid_opcode = 0x20;
  const SRB_ExecSCSICmd& exec = block.exec;
  if (exec.SRB_TargStat != STATUS_CHKCOND) return false;
  const std::uint8_t* sense = block.bytes + offsetof(SRB_ExecSCSICmd, SenseArea);
  const std::uint8_t format = sense[0] & 0x7F;
  if (format == 0x70 || format == 0x71) {
    return (sense[2] & 0x0F) == key_illegal_request && sense[12] == asc_invalid_opcode;
  }
  if (format == 0x72 || format == 0x73) {
    return (sense[1] & 0x0F) == key_illegal_request && sense[2] == asc_invalid_opcode;
  }
  return false;
}

// Sends a transfer. Optical drives behind ATAPI or USB (and Windows'
// pass-through to them) know no READ(6): one that refuses it gets the same
// transfer as READ(10) at once, and the 10-byte forms from then on. The
// repeat belongs to this request, so it is no retry of the caller's.
std::uint8_t send_transfer(request_block& block, const scsi_request& request, std::uint8_t flags,
                           std::uint32_t unit_bytes) {
  const device_address device{static_cast<std::uint8_t>(request.host_adapter),
                              static_cast<std::uint8_t>(request.target)};
  fill_transfer(block, request, flags, unit_bytes, takes_only_ten_byte_transfers(device));
  const std::uint8_t status = send_and_wait(block, limits.transfer);
  const std::uint8_t sent_op = block.exec.CDBByte[0];
  const bool six_byte_transfer =
      block.exec.SRB_CDBLen == 6 && (sent_op == op_read6 || sent_op == op_write6);
  if (status != SS_ERR || !six_byte_transfer || !refused_as_unknown_command(block)) return status;
  remember_ten_byte_transfers(device);
  fill_transfer(block, request, flags, unit_bytes, true);
  return send_and_wait(block, limits.transfer);
}

std::uint32_t real_hundredths() {
  using namespace std::chrono;
  const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>((now / 1000) % 60 * 100 + (now % 1000) / 10);
}

// Waits 15 hundredths of a second by the time of day. Across a minute
// boundary the unsigned difference is huge and the wait ends at once, which
// only shortens a pause that is a courtesy to slow drives.
void short_wait() {
  const hundredths_clock read = time_of_day != nullptr ? time_of_day : real_hundredths;
  const std::uint32_t start = read();
  while (read() - start < 15) std::this_thread::yield();
}

}  // namespace

void set_wait_limits(const wait_limits& new_limits) { limits = new_limits; }
wait_limits current_wait_limits() { return limits; }
void set_hundredths_clock(hundredths_clock clock_fn) { time_of_day = clock_fn; }

int aspi_init() {
  const std::uint32_t info = GetASPI32SupportInfo();
  const std::uint32_t status = (info >> 8) & 0xFF;
  return status == SS_COMP ? static_cast<int>(info & 0xFF) : 0;
}

int aspi_host_inq(std::uint8_t host, char manager_id[16], char unique[16]) {
  request_block& block = fresh_shared_block();
  block.inquiry.SRB_Cmd = SC_HA_INQUIRY;
  block.inquiry.SRB_HaId = host;
  send_and_wait(block, limits.query);
  copy_text16(manager_id, block.inquiry.HA_ManagerId);
  copy_text16(unique, block.inquiry.HA_Unique);
  return block.inquiry.HA_Count;
}

int aspi_devtype(std::uint8_t host, std::uint8_t target) {
  request_block& block = fresh_shared_block();
  block.device.SRB_Cmd = SC_GET_DEV_TYPE;
  block.device.SRB_HaId = host;
  block.device.SRB_Target = target;
  if (send_and_wait(block, limits.query) != SS_COMP) return -1;
  return block.device.SRB_DeviceType;
}

int aspi_rw(const scsi_request& request) {
  const std::uint8_t flags = request.command == op_read6 ? SRB_DIR_IN : SRB_DIR_OUT;
  return send_transfer(shared_block, request, flags, devices().aspi_unit_size);
}

int aspi_reset(std::uint8_t host, std::uint8_t target) {
  request_block& block = fresh_shared_block();
  block.reset.SRB_Cmd = SC_RESET_DEV;
  block.reset.SRB_HaId = host;
  block.reset.SRB_Target = target;
  return send_and_wait(block, limits.query);
}

int aspi_lock(std::uint8_t host, std::uint8_t target, std::uint8_t prevent) {
  request_block& block = fresh_shared_block();
  block.exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
  block.exec.SRB_HaId = host;
  block.exec.SRB_Target = target;
  block.exec.SRB_CDBLen = 6;
  block.exec.CDBByte[0] = op_prevent_allow;
  block.exec.CDBByte[4] = prevent;
  const std::uint8_t status = send_and_wait(block, limits.query, short_wait);
  short_wait();
  return status;
}

int aspi_readcap(std::uint8_t host, std::uint8_t target, std::uint8_t* buffer) {
  std::memset(buffer, 0, 12);
  request_block& block = fresh_shared_block();
  block.exec.SRB_Cmd = SC_EXEC_SCSI_CMD;
  block.exec.SRB_HaId = host;
  block.exec.SRB_Target = target;
  block.exec.SRB_BufLen = readcap_buffer_bytes;
  block.exec.SRB_BufPointer = buffer;
  block.exec.SRB_SenseLen = sense_bytes_asked;
  block.exec.SRB_CDBLen = 10;
  block.exec.CDBByte[0] = op_read_capacity;
  return send_and_wait(block, limits.query);
}

int cdrom_rw(const scsi_request& request) {
  // A block of its own: the CD-ROM reads may run while nothing else does,
  // but they never share the block of the other routines.
  request_block block{};
  const std::uint8_t status = send_transfer(block, request, SRB_DIR_IN, cd_sector_bytes);
  return status == SS_COMP ? 0 : status;
}

int aspi_inquiry(std::uint8_t host, std::uint8_t target, std::uint8_t* buffer) {
  request_block& block = fresh_shared_block();
  build_inquiry(block.exec, buffer, inquiry_bytes);
  block.exec.SRB_HaId = host;
  block.exec.SRB_Target = target;
  return send_and_wait(block, limits.query);
}

}  // namespace scsi
