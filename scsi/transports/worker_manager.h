// Another manager's device requests, carried out on worker threads. An ASPI
// library may do a whole transfer inside SendASPI32Command; a stuck drive
// would then hold the caller's thread, and with it the window that thread
// keeps alive. Here send() hands the request to a worker and answers
// SS_PENDING at once, so the request layer's poll loop runs meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "scsi/aspi_manager.h"

namespace scsi {

class worker_manager final : public aspi_manager {
 public:
  // `inner` is not owned and must outlive every request sent through here
  // (the program's library manager lives as long as the program).
  explicit worker_manager(aspi_manager& inner) : inner_(inner) {}
  ~worker_manager() override;
  worker_manager(const worker_manager&) = delete;
  worker_manager& operator=(const worker_manager&) = delete;

  // SC_EXEC_SCSI_CMD and SC_RESET_DEV go to a worker with a copy of the
  // block and a buffer of their own; the results are copied back and the
  // status stored last (release); a transfer the library failed with a
  // time-out host status ends SS_ABORTED, which the block readers do not
  // retry. SC_ABORT_SRB naming such a request ends
  // it SS_ABORTED at once and passes the abort on to the inner manager; its
  // late result is dropped. Everything else is the inner manager's answer.
  std::uint32_t send(void* request_block) override;
  std::uint32_t support_info() override { return inner_.support_info(); }

  struct job;

 private:
  std::uint8_t abort(void* request_block);

  aspi_manager& inner_;
  std::mutex mutex_;
  // Requests not yet answered, and those given up on whose abort the inner
  // manager may still answer.
  std::vector<std::shared_ptr<job>> jobs_;
};

}  // namespace scsi
