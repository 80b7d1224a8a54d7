#include "scsi/transports/worker_manager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "scsi/aspi_defs.h"

namespace scsi {
namespace {

// The largest block a worker carries: a transfer with all the sense room
// its one-byte SRB_SenseLen can ask for.
constexpr std::size_t largest_block = offsetof(SRB_ExecSCSICmd, SenseArea) + 255;
static_assert(largest_block >= sizeof(SRB_BusDeviceReset));

// The worker's buffer is page-aligned: a library may ask for any alignment
// of the transfer buffer.
constexpr std::align_val_t buffer_alignment{4096};
struct aligned_delete {
  void operator()(std::uint8_t* bytes) const { ::operator delete[](bytes, buffer_alignment); }
};

std::uint8_t status_of(void* request_block) {
  return std::atomic_ref<std::uint8_t>(static_cast<SRB_Header*>(request_block)->SRB_Status)
      .load(std::memory_order_acquire);
}

void store_status(void* request_block, std::uint8_t status) {
  std::atomic_ref<std::uint8_t>(static_cast<SRB_Header*>(request_block)->SRB_Status)
      .store(status, std::memory_order_release);
}

// A library that answers SS_PENDING writes the status later, from its own
// thread or the hardware's.
std::uint8_t wait_for_status(void* request_block) {
  for (unsigned passes = 0;; ++passes) {
    if (const std::uint8_t status = status_of(request_block); status != SS_PENDING) return status;
    if (passes < 1000) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
}

}  // namespace

// One request on its way through a worker: the inner manager sees only this
// copy of the block and this buffer, so an answer that comes after the
// caller gave up lands here.
struct worker_manager::job {
  aspi_manager* inner = nullptr;
  alignas(8) std::uint8_t block[largest_block] = {};
  std::unique_ptr<std::uint8_t[], aligned_delete> data;
  // The caller's block while it waits for the results; null once it has
  // them or has given up on them.
  std::mutex lock;
  void* caller = nullptr;
  std::atomic<bool> finished = false;  // the inner manager has answered
  request_block abort_block{};         // the abort passed on, when there was one
  bool abort_sent = false;

  bool done_with() {
    return finished.load() && (!abort_sent || status_of(&abort_block) != SS_PENDING);
  }
};

namespace {

using job_record = worker_manager::job;

// The caller's request into the job: its block, its data (both ways: the
// request layer leaves the direction open on queries), no posting (the
// request layer polls).
bool take_request(job_record& one, void* request_block) {
  const auto& header = *static_cast<const SRB_Header*>(request_block);
  if (header.SRB_Cmd == SC_RESET_DEV) {
    std::memcpy(one.block, request_block, sizeof(SRB_BusDeviceReset));
  } else {
    const auto& exec = *static_cast<const SRB_ExecSCSICmd*>(request_block);
    std::memcpy(one.block, request_block, offsetof(SRB_ExecSCSICmd, SenseArea) + exec.SRB_SenseLen);
    auto& copy = *reinterpret_cast<SRB_ExecSCSICmd*>(one.block);
    if (exec.SRB_BufLen > 0) {
      one.data.reset(new (buffer_alignment, std::nothrow) std::uint8_t[exec.SRB_BufLen]);
      if (one.data == nullptr) return false;
      std::memcpy(one.data.get(), exec.SRB_BufPointer, exec.SRB_BufLen);
    }
    copy.SRB_BufPointer = one.data.get();
  }
  auto& copy_header = *reinterpret_cast<SRB_Header*>(one.block);
  copy_header.SRB_Flags &= static_cast<std::uint8_t>(~(SRB_POSTING | SRB_EVENT_NOTIFY));
  copy_header.SRB_Status = SS_PENDING;
  return true;
}

// The inner manager's results into the caller's block and buffer; the
// status last (a time-out as SS_ABORTED).
void give_back(job_record& one, std::uint8_t status) {
  const auto& header = *static_cast<const SRB_Header*>(one.caller);
  if (header.SRB_Cmd == SC_RESET_DEV) {
    auto& reset = *static_cast<SRB_BusDeviceReset*>(one.caller);
    const auto& copy = *reinterpret_cast<const SRB_BusDeviceReset*>(one.block);
    reset.SRB_HaStat = copy.SRB_HaStat;
    reset.SRB_TargStat = copy.SRB_TargStat;
  } else {
    auto& exec = *static_cast<SRB_ExecSCSICmd*>(one.caller);
    const auto& copy = *reinterpret_cast<const SRB_ExecSCSICmd*>(one.block);
    exec.SRB_HaStat = copy.SRB_HaStat;
    exec.SRB_TargStat = copy.SRB_TargStat;
    // A time-out is final: the block readers retry an error, and each try
    // would wait out the device's time limit again.
    if (status == SS_ERR &&
        (copy.SRB_HaStat == hastat_timeout || copy.SRB_HaStat == hastat_command_timeout)) {
      status = SS_ABORTED;
    }
    // SRB_SenseLen says how much room follows the CDB, which may be more
    // than SenseArea's declared 16 bytes.
    constexpr std::size_t sense_at = offsetof(SRB_ExecSCSICmd, SenseArea);
    std::memcpy(static_cast<std::uint8_t*>(one.caller) + sense_at, one.block + sense_at,
                exec.SRB_SenseLen);
    if (exec.SRB_BufLen > 0) std::memcpy(exec.SRB_BufPointer, one.data.get(), exec.SRB_BufLen);
  }
  store_status(one.caller, status);
  one.caller = nullptr;
}

void run_job(const std::shared_ptr<job_record>& one) {
  const std::uint32_t sent = one->inner->send(one->block);
  // A final answer is believed as the request layer believes it: a
  // library's refusal may leave the status unwritten.
  const std::uint8_t status =
      sent == SS_PENDING ? wait_for_status(one->block) : static_cast<std::uint8_t>(sent);
  const std::lock_guard hold(one->lock);
  if (one->caller != nullptr) give_back(*one, status);
  one->finished = true;
}

}  // namespace

// Workers still inside the library keep their own jobs alive.
worker_manager::~worker_manager() = default;

std::uint32_t worker_manager::send(void* request_block) {
  if (request_block == nullptr) return inner_.send(request_block);
  const std::uint8_t command = static_cast<SRB_Header*>(request_block)->SRB_Cmd;
  if (command == SC_ABORT_SRB) {
    const std::uint8_t status = abort(request_block);
    if (status != SS_PENDING) store_status(request_block, status);
    return status;
  }
  if (command != SC_EXEC_SCSI_CMD && command != SC_RESET_DEV) return inner_.send(request_block);

  auto one = std::make_shared<job>();
  one->inner = &inner_;
  if (!take_request(*one, request_block)) {
    static_cast<SRB_ExecSCSICmd*>(request_block)->SRB_HaStat = hastat_over_underrun;
    store_status(request_block, SS_ERR);
    return SS_ERR;
  }
  store_status(request_block, SS_PENDING);
  one->caller = request_block;
  {
    const std::lock_guard hold(mutex_);
    std::erase_if(jobs_, [](const std::shared_ptr<job>& each) { return each->done_with(); });
    jobs_.push_back(one);
  }
  try {
    std::thread([one] { run_job(one); }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the request is carried out here, as the library
    // would have done.
    run_job(one);
    return status_of(request_block);
  }
  return SS_PENDING;
}

std::uint8_t worker_manager::abort(void* request_block) {
  auto& abort = *static_cast<SRB_Abort*>(request_block);
  std::shared_ptr<job> found;
  {
    const std::lock_guard hold(mutex_);
    for (const std::shared_ptr<job>& each : jobs_) {
      const std::lock_guard hold_job(each->lock);
      if (each->caller != nullptr && each->caller == abort.SRB_ToAbort) found = each;
    }
  }
  // Not one of ours (or already answered): the inner manager knows.
  if (found == nullptr) return static_cast<std::uint8_t>(inner_.send(request_block));
  {
    const std::lock_guard hold_job(found->lock);
    if (found->caller == nullptr) return SS_ABORT_FAIL;  // answered meanwhile
    found->caller = nullptr;
    store_status(abort.SRB_ToAbort, SS_ABORTED);
  }
  // The library may still stop the device's work; its answer goes into the
  // job, which the list keeps until the library has given it.
  if (!found->finished.load()) {
    found->abort_block.abort.SRB_Cmd = SC_ABORT_SRB;
    found->abort_block.abort.SRB_HaId = abort.SRB_HaId;
    found->abort_block.abort.SRB_ToAbort = found->block;
    found->abort_sent = true;
    const std::uint32_t sent = inner_.send(&found->abort_block);
    if (sent != SS_PENDING) store_status(&found->abort_block, static_cast<std::uint8_t>(sent));
  }
  return SS_COMP;
}

}  // namespace scsi
