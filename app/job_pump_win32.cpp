#include "app/job_pump_win32.h"

#include <windows.h>

#include "app/shell_win32.h"

namespace app {
namespace {

struct fibered_job {
  const std::function<void()>* work = nullptr;
  void* window_fiber = nullptr;
  void* job_fiber = nullptr;
  bool ended = false;
  // Only this file switches fibers, so it knows which one runs.
  bool on_job = false;
};
// The job under way on its fiber, if any.
fibered_job* current = nullptr;

void CALLBACK job_fiber_main(void* parameter) {
  auto& job = *static_cast<fibered_job*>(parameter);
  (*job.work)();
  job.ended = true;
  // A fiber's function must never return: that would end the thread.
  for (;;) SwitchToFiber(job.window_fiber);
}

bool on_job_fiber() { return current != nullptr && current->on_job; }

// From the window's fiber: the job runs until it pumps or ends.
void run_job_a_while(fibered_job& job) {
  job.on_job = true;
  SwitchToFiber(job.job_fiber);
  job.on_job = false;
}

void read_waiting_messages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (main_window != nullptr && IsDialogMessageA(main_window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// The thread as a fiber, once; null when the system cannot make it one.
void* window_fiber() {
  static void* const fiber = ConvertThreadToFiber(nullptr);
  return fiber;
}

}  // namespace

void pump_messages() {
  if (on_job_fiber()) {
    SwitchToFiber(current->window_fiber);
    return;
  }
  read_waiting_messages();
}

void run_pumped_job(const std::function<void()>& job) {
  if (!pumping_wanted() || current != nullptr || window_fiber() == nullptr) {
    job();
    return;
  }
  fibered_job fibered;
  fibered.work = &job;
  fibered.window_fiber = window_fiber();
  // The stack the program's own thread gets.
  fibered.job_fiber = CreateFiber(0, job_fiber_main, &fibered);
  if (fibered.job_fiber == nullptr) {
    job();
    return;
  }
  current = &fibered;
  while (!fibered.ended) {
    run_job_a_while(fibered);
    if (!fibered.ended) read_waiting_messages();
  }
  current = nullptr;
  DeleteFiber(fibered.job_fiber);
}

bool run_job_to_its_end() {
  if (current == nullptr) return true;
  if (current->on_job) return false;
  while (!current->ended) run_job_a_while(*current);
  return true;
}

bool pumping_wanted() {
  static const bool wanted = GetEnvironmentVariableA("ZELVORANT_NO_PUMP", nullptr, 0) == 0;
  return wanted;
}

}  // namespace app
