#include "scsi/sim/simulated_bus.h"

#include <algorithm>
#include <cstring>

#include "scsi/sim/sim_bus_state.h"

namespace scsi {

using sim::adapter_scsi_id;
using sim::host_info;
using sim::put_text;

simulated_bus::simulated_bus() : state_(std::make_unique<state>()) {
  for (std::uint8_t host = 0; host < sim_max_hosts; ++host) {
    put_text(state_->hosts[host].manager_id, "SIMULATED BUS");
    put_text(state_->hosts[host].identifier, "SIM ADAPTER " + std::to_string(host));
    // As adapters describe themselves: buffer alignment mask 0 (bytes 0-1),
    // no residual count (2), 8 targets (3), 128 KiB per transfer (4-7, LE).
    auto& unique = state_->hosts[host].unique;
    unique[3] = sim_max_targets;
    unique[6] = 0x02;
  }
  state_->worker = std::thread([s = state_.get()] { s->run(); });
}

simulated_bus::~simulated_bus() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  state_->worker.join();
}

bool simulated_bus::attach(const sim_device& device, std::string& error) {
  if (device.host >= sim_max_hosts || device.target >= sim_max_targets) {
    error = "host adapter must be 0 to 9 and target 0 to 7";
    return false;
  }
  {
    std::lock_guard lock(state_->mutex);
    if (state_->find(device.host, device.target) != nullptr) {
      error = "host adapter " + std::to_string(device.host) + " target " +
              std::to_string(device.target) + " already has a device";
      return false;
    }
  }
  auto opened = sim::target::open(device, error);
  if (!opened) return false;
  std::lock_guard lock(state_->mutex);
  auto& place = state_->targets[std::size_t{device.host} * sim_max_targets + device.target];
  if (place) {
    error = "host adapter " + std::to_string(device.host) + " target " +
            std::to_string(device.target) + " already has a device";
    return false;
  }
  place = std::move(opened);
  state_->host_count = std::max<std::uint8_t>(state_->host_count, device.host + 1u);
  return true;
}

void simulated_bus::set_manager_id(std::uint8_t host, const std::string& text) {
  std::lock_guard lock(state_->mutex);
  if (host < sim_max_hosts) put_text(state_->hosts[host].manager_id, text);
}

void simulated_bus::set_identifier(std::uint8_t host, const std::string& text) {
  std::lock_guard lock(state_->mutex);
  if (host < sim_max_hosts) put_text(state_->hosts[host].identifier, text);
}

void simulated_bus::set_unique(std::uint8_t host, const std::array<std::uint8_t, 16>& bytes) {
  std::lock_guard lock(state_->mutex);
  if (host < sim_max_hosts) state_->hosts[host].unique = bytes;
}

void simulated_bus::set_delay(std::chrono::microseconds delay) {
  std::lock_guard lock(state_->mutex);
  state_->delay = delay;
}

std::uint32_t simulated_bus::send(void* request_block) {
  if (request_block == nullptr) return SS_INVALID_SRB;
  state& s = *state_;
  const auto& header = *static_cast<const SRB_Header*>(request_block);
  const std::uint8_t host = header.SRB_HaId;
  std::unique_lock lock(s.mutex);
  const bool host_exists = host < s.host_count;
  switch (header.SRB_Cmd) {
    case SC_HA_INQUIRY: {
      if (!host_exists) break;
      auto& inquiry = *static_cast<SRB_HAInquiry*>(request_block);
      const host_info& info = s.hosts[host];
      inquiry.HA_Count = s.host_count;
      inquiry.HA_SCSI_ID = adapter_scsi_id;
      std::memcpy(inquiry.HA_ManagerId, info.manager_id.data(), info.manager_id.size());
      std::memcpy(inquiry.HA_Identifier, info.identifier.data(), info.identifier.size());
      std::memcpy(inquiry.HA_Unique, info.unique.data(), info.unique.size());
      lock.unlock();
      return s.finish_now(request_block, SS_COMP);
    }
    case SC_GET_DEV_TYPE: {
      if (!host_exists) break;
      auto& device = *static_cast<SRB_GDEVBlock*>(request_block);
      const sim::target* found = s.find(host, device.SRB_Target);
      lock.unlock();
      if (found == nullptr || device.SRB_Lun != 0) return s.finish_now(request_block, SS_NO_DEVICE);
      device.SRB_DeviceType = found->peripheral_type();
      return s.finish_now(request_block, SS_COMP);
    }
    case SC_ABORT_SRB: {
      if (!host_exists) break;
      void* victim = static_cast<SRB_Abort*>(request_block)->SRB_ToAbort;
      const bool aborted = victim != nullptr && s.abort(victim);
      lock.unlock();
      s.wake.notify_all();
      return s.finish_now(request_block, aborted ? SS_COMP : SS_ABORT_FAIL);
    }
    case SC_RESET_DEV:
    case SC_EXEC_SCSI_CMD: {
      if (!host_exists) break;
      const auto& exec = *static_cast<const SRB_ExecSCSICmd*>(request_block);
      if (s.find(host, exec.SRB_Target) == nullptr || exec.SRB_Lun != 0) {
        lock.unlock();
        return s.finish_now(request_block, SS_NO_DEVICE);
      }
      const bool malformed = header.SRB_Cmd == SC_EXEC_SCSI_CMD &&
                             (exec.SRB_CDBLen == 0 || exec.SRB_CDBLen > sizeof exec.CDBByte ||
                              (exec.SRB_BufLen > 0 && exec.SRB_BufPointer == nullptr));
      if (malformed) {
        lock.unlock();
        return s.finish_now(request_block, SS_INVALID_SRB);
      }
      s.enqueue(request_block);
      lock.unlock();
      s.wake.notify_all();
      return SS_PENDING;
    }
    default:
      lock.unlock();
      return s.finish_now(request_block, SS_INVALID_CMD);
  }
  lock.unlock();
  return s.finish_now(request_block, SS_INVALID_HA);
}

std::uint32_t simulated_bus::support_info() {
  std::lock_guard lock(state_->mutex);
  if (state_->host_count == 0) return std::uint32_t{SS_NO_ADAPTERS} << 8;
  return std::uint32_t{SS_COMP} << 8 | state_->host_count;
}

void simulated_bus::fail_transfer(unsigned nth, std::uint8_t status) {
  if (nth == 0) return;
  std::lock_guard lock(state_->mutex);
  state_->failing_transfers.emplace_back(state_->transfers_sent + nth, status);
}

void simulated_bus::fail_blocks(std::uint8_t host, std::uint8_t target, std::uint32_t first_block,
                                std::uint32_t count, std::uint8_t status) {
  std::lock_guard lock(state_->mutex);
  state_->block_faults.push_back(
      {host, target, first_block, std::uint64_t{first_block} + count, status});
}

void simulated_bus::never_complete(unsigned nth) {
  if (nth == 0) return;
  std::lock_guard lock(state_->mutex);
  state_->held_transfers.push_back(state_->transfers_sent + nth);
}

void simulated_bus::clear_faults() {
  std::lock_guard lock(state_->mutex);
  state_->failing_transfers.clear();
  state_->held_transfers.clear();
  state_->block_faults.clear();
}

std::vector<sim_event> simulated_bus::events() const {
  std::lock_guard lock(state_->mutex);
  return {state_->log.begin(), state_->log.end()};
}

void simulated_bus::clear_events() {
  std::lock_guard lock(state_->mutex);
  state_->log.clear();
}

sim_stats simulated_bus::statistics() const {
  std::lock_guard lock(state_->mutex);
  return state_->stats;
}

bool simulated_bus::medium_locked(std::uint8_t host, std::uint8_t target) const {
  std::lock_guard lock(state_->mutex);
  const sim::target* device = state_->find(host, target);
  return device != nullptr && device->medium_locked();
}

std::size_t simulated_bus::outstanding() const {
  std::lock_guard lock(state_->mutex);
  return state_->queue.size() + state_->held.size() + state_->running;
}

}  // namespace scsi
