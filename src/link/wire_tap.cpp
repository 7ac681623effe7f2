#include "link/wire_tap.h"

#include <mutex>

namespace zorvane {

namespace {
std::mutex g_mutex;
std::shared_ptr<WireListener> g_listener;
}  // namespace

void set_wire_listener(std::shared_ptr<WireListener> listener) {
    std::lock_guard lock(g_mutex);
    g_listener = std::move(listener);
}

std::shared_ptr<WireListener> wire_listener() {
    std::lock_guard lock(g_mutex);
    return g_listener;
}

}  // namespace zorvane
