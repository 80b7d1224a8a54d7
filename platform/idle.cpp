#include "platform/idle.h"

namespace platform {
namespace {

idle_hook installed = nullptr;

}  // namespace

void set_idle_hook(idle_hook hook) { installed = hook; }

bool idle_hook_installed() { return installed != nullptr; }

bool run_idle_hook() { return installed == nullptr || installed(); }

}  // namespace platform
