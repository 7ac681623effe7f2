// Shared set-up of the window tests: the global device state back to zero.
#pragma once

#include "state/device_state.h"

namespace zorvane::testing {

inline void reset_device_state() {
    DeviceState& s = device_state;
    s.clear_device_values();
    s.g_com_port.store(0);
    s.g_device_kind.store(0);
    s.g_main_thread_id.store(0);
    s.g_poll_pause.store(0);
    s.g_settings_shown.store(0);
    s.g_values_read.store(0);
    s.g_device_answering.store(1);
    s.g_last_answer_ms.store(0);
    // No worker in these tests: a write borrowing the port must not wait.
    s.g_worker_idle.store(1);
}

}  // namespace zorvane::testing
