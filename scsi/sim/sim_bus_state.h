// The inside of the simulated bus, shared by the calls of simulated_bus.cpp
// and the worker thread of sim_bus_state.cpp. One mutex guards everything
// here; the caller's request blocks are written outside it only by the
// worker, and only while the request is its own.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "scsi/sim/sim_target.h"
#include "scsi/sim/simulated_bus.h"

namespace scsi {
namespace sim {

using clock = std::chrono::steady_clock;

constexpr std::size_t event_log_limit = 4096;
constexpr std::uint8_t adapter_scsi_id = 7;

struct host_info {
  std::array<std::uint8_t, 16> manager_id{};
  std::array<std::uint8_t, 16> identifier{};
  std::array<std::uint8_t, 16> unique{};
};

struct queued_request {
  void* block = nullptr;
  std::uint64_t id = 0;
  clock::time_point due;
  std::uint8_t forced_status = 0;  // a fault chosen when it was sent; 0 none
  sim_event event;
};

struct block_fault {
  std::uint8_t host, target;
  std::uint64_t first, end;
  std::uint8_t status;
};

void put_text(std::array<std::uint8_t, 16>& field, const std::string& text);
// The block's owner may read every field once the status is non-zero, so the
// status goes last and publishes everything written before it.
void publish_status(void* block, std::uint8_t status);
sim_event describe(const void* block);

}  // namespace sim

struct simulated_bus::state {
  mutable std::mutex mutex;
  std::condition_variable wake;
  // Counts requests queued, read without the lock by the worker's short spin.
  std::atomic<std::uint64_t> arrivals{0};
  std::deque<sim::queued_request> queue;
  std::vector<sim::queued_request> held;
  std::deque<sim_event> log;
  std::array<std::unique_ptr<sim::target>, std::size_t{sim_max_hosts} * sim_max_targets> targets;
  std::array<sim::host_info, sim_max_hosts> hosts;
  std::uint8_t host_count = 0;
  std::chrono::microseconds delay{0};
  std::uint64_t next_id = 1;
  std::uint64_t transfers_sent = 0;
  // Positions among the transfers sent (transfers_sent counts them).
  std::vector<std::pair<std::uint64_t, std::uint8_t>> failing_transfers;
  std::vector<std::uint64_t> held_transfers;
  std::vector<sim::block_fault> block_faults;
  sim_stats stats;
  std::size_t running = 0;  // taken off the queue, not yet ended
  bool stopping = false;
  std::thread worker;

  sim::target* find(std::uint8_t host, std::uint8_t target) const;
  // The rest run under the lock, except finish_now, which takes it, and
  // carry_out, which must run without it.
  void record(sim_event event, std::uint8_t status);
  void enqueue(void* block);
  // Ends a request that has not started; one the worker is carrying out runs
  // to its end.
  bool abort(void* block);
  std::uint32_t finish_now(void* block, std::uint8_t status);
  std::uint8_t block_fault_for(const sim::queued_request& request) const;
  void run();
  std::uint8_t carry_out(const sim::queued_request& request, sim::target& device);
};

}  // namespace scsi
