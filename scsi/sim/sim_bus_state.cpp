#include "scsi/sim/sim_bus_state.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

namespace scsi {
namespace sim {
void put_text(std::array<std::uint8_t, 16>& field, const std::string& text) {
  field.fill(0);
  std::memcpy(field.data(), text.data(), std::min(field.size(), text.size()));
}

void publish_status(void* block, std::uint8_t status) {
  std::atomic_ref<std::uint8_t>(static_cast<SRB_Header*>(block)->SRB_Status)
      .store(status, std::memory_order_release);
}

sim_event describe(const void* block) {
  const auto& header = *static_cast<const SRB_Header*>(block);
  sim_event event;
  event.cmd = header.SRB_Cmd;
  event.host = header.SRB_HaId;
  event.flags = header.SRB_Flags;
  if (header.SRB_Cmd == SC_GET_DEV_TYPE || header.SRB_Cmd == SC_RESET_DEV ||
      header.SRB_Cmd == SC_EXEC_SCSI_CMD) {
    event.target = static_cast<const SRB_GDEVBlock*>(block)->SRB_Target;
  }
  if (header.SRB_Cmd == SC_EXEC_SCSI_CMD) {
    const auto& exec = *static_cast<const SRB_ExecSCSICmd*>(block);
    event.buf_len = exec.SRB_BufLen;
    event.cdb_len = std::min<std::uint8_t>(exec.SRB_CDBLen, sizeof event.cdb);
    std::memcpy(event.cdb, exec.CDBByte, event.cdb_len);
  }
  return event;
}

}  // namespace sim

using sim::clock;
using sim::event_log_limit;
using sim::publish_status;
using sim::queued_request;

sim::target* simulated_bus::state::find(std::uint8_t host, std::uint8_t target) const {
  if (host >= sim_max_hosts || target >= sim_max_targets) return nullptr;
  return targets[std::size_t{host} * sim_max_targets + target].get();
}

void simulated_bus::state::record(sim_event event, std::uint8_t status) {
  event.status = status;
  if (log.size() == event_log_limit) log.pop_front();
  log.push_back(event);
}

void simulated_bus::state::enqueue(void* block) {
  // Zero before the worker can see it: a reused block must not look done.
  publish_status(block, SS_PENDING);
  queued_request request;
  request.block = block;
  request.id = next_id++;
  request.due = clock::now() + delay;
  request.event = sim::describe(block);
  if (request.event.cmd == SC_EXEC_SCSI_CMD && sim::is_transfer(request.event.cdb[0])) {
    const std::uint64_t nth = ++transfers_sent;
    if (const auto hold = std::find(held_transfers.begin(), held_transfers.end(), nth);
        hold != held_transfers.end()) {
      held_transfers.erase(hold);
      held.push_back(request);
      return;
    }
    const auto fail = std::find_if(failing_transfers.begin(), failing_transfers.end(),
                                   [nth](const auto& entry) { return entry.first == nth; });
    if (fail != failing_transfers.end()) {
      request.forced_status = fail->second;
      failing_transfers.erase(fail);
    }
  }
  queue.push_back(request);
  arrivals.fetch_add(1, std::memory_order_release);
}

bool simulated_bus::state::abort(void* block) {
  const auto matches = [block](const queued_request& request) { return request.block == block; };
  queued_request victim;
  if (const auto found = std::find_if(queue.begin(), queue.end(), matches); found != queue.end()) {
    victim = *found;
    queue.erase(found);
  } else if (const auto kept = std::find_if(held.begin(), held.end(), matches);
             kept != held.end()) {
    victim = *kept;
    held.erase(kept);
  } else {
    return false;
  }
  record(victim.event, SS_ABORTED);
  publish_status(victim.block, SS_ABORTED);
  return true;
}

std::uint32_t simulated_bus::state::finish_now(void* block, std::uint8_t status) {
  {
    std::lock_guard lock(mutex);
    record(sim::describe(block), status);
  }
  publish_status(block, status);
  return status;
}

std::uint8_t simulated_bus::state::block_fault_for(const queued_request& request) const {
  const auto& exec = *static_cast<const SRB_ExecSCSICmd*>(request.block);
  sim::block_range range;
  if (!sim::decode_transfer(exec.CDBByte, exec.SRB_CDBLen, range) || range.count == 0) return 0;
  const std::uint64_t end = std::uint64_t{range.first} + range.count;
  for (const auto& fault : block_faults) {
    if (fault.host == exec.SRB_HaId && fault.target == exec.SRB_Target && range.first < fault.end &&
        fault.first < end) {
      return fault.status;
    }
  }
  return 0;
}

void simulated_bus::state::run() {
  std::unique_lock lock(mutex);
  for (;;) {
    if (queue.empty() && !stopping) {
      // A copy sends its next request a few microseconds after the last one
      // ended: waiting for it briefly here saves a sleep and a wake-up per
      // request, which is most of the bus's cost on a bulk copy.
      const std::uint64_t seen = arrivals.load(std::memory_order_acquire);
      lock.unlock();
      const clock::time_point until = clock::now() + std::chrono::microseconds(200);
      while (arrivals.load(std::memory_order_acquire) == seen && clock::now() < until) {
        std::this_thread::yield();
      }
      lock.lock();
    }
    wake.wait(lock, [this] { return stopping || !queue.empty(); });
    if (stopping) return;
    const std::uint64_t id = queue.front().id;
    const clock::time_point due = queue.front().due;
    if (clock::now() < due) {
      // An abort may take the request away while it waits.
      wake.wait_until(lock, due,
                      [&] { return stopping || queue.empty() || queue.front().id != id; });
      continue;
    }
    queued_request request = std::move(queue.front());
    queue.pop_front();
    if (request.forced_status == 0 && request.event.cmd == SC_EXEC_SCSI_CMD) {
      request.forced_status = block_fault_for(request);
    }
    sim::target* device = find(request.event.host, request.event.target);
    ++running;
    lock.unlock();
    const bool write = request.event.cmd == SC_EXEC_SCSI_CMD &&
                       sim::is_transfer(request.event.cdb[0]) && (request.event.cdb[0] & 0x02) != 0;
    // Two targets may share one image file: a write through either makes
    // every read-ahead stale.
    if (write) {
      for (const auto& other : targets) {
        if (other) other->forget_read_ahead();
      }
    }
    const std::uint8_t status = carry_out(request, *device);
    lock.lock();
    --running;
    record(request.event, status);
    publish_status(request.block, status);
    if (status == SS_COMP && request.event.cmd == SC_EXEC_SCSI_CMD) {
      lock.unlock();
      device->read_ahead();
      lock.lock();
    }
  }
}

// Runs without the lock: the I/O may take a while.
std::uint8_t simulated_bus::state::carry_out(const queued_request& request, sim::target& device) {
  if (request.event.cmd == SC_RESET_DEV) {
    device.reset();
    auto& reset = *static_cast<SRB_BusDeviceReset*>(request.block);
    reset.SRB_HaStat = 0;
    reset.SRB_TargStat = 0;
    return SS_COMP;
  }
  auto& exec = *static_cast<SRB_ExecSCSICmd*>(request.block);
  const bool transfer = sim::is_transfer(exec.CDBByte[0]);
  const sim::outcome result =
      request.forced_status != 0
          ? sim::injected_failure(request.forced_status, (exec.CDBByte[0] & 0x02) != 0)
          : device.execute(exec);
  exec.SRB_HaStat = result.ha_stat;
  exec.SRB_TargStat = result.check_condition ? STATUS_CHKCOND : 0;
  if (result.check_condition) {
    const auto sense = sim::sense_data(result);
    // Through the block's own address: the caller's block runs past the
    // declared SenseArea when it asks for more sense bytes.
    auto* area = static_cast<std::uint8_t*>(request.block) + offsetof(SRB_ExecSCSICmd, SenseArea);
    std::memcpy(area, sense.data(), std::min<std::size_t>(exec.SRB_SenseLen, sense.size()));
  }
  std::lock_guard lock(mutex);
  if (transfer) ++stats.transfers;
  stats.bytes_read += result.bytes_read;
  stats.bytes_written += result.bytes_written;
  return result.status;
}

}  // namespace scsi
