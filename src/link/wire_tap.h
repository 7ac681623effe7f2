// A tap on the wire: every frame the tool sends and receives, and what
// happens to the ports (open, failure, close), handed as it happens to one
// process-wide listener when one is set (a trace file). The ports call it
// from any thread, the probes of a search from several at once.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace zorvane {

enum class WireDirection : uint8_t { Tx, Rx };

class WireListener {
  public:
    virtual ~WireListener() = default;
    // A frame written to `port` (before the write), or the bytes one
    // transaction read from it (empty when nothing came).
    virtual void frame(const std::string& port, WireDirection direction,
                       std::span<const uint8_t> bytes) = 0;
    // "open", "open-failed <why>", "failure", "close".
    virtual void event(const std::string& port, std::string_view what) = 0;
};

// Sets the listener (null: none). A listener that is replaced is released
// once no port is still telling it something.
void set_wire_listener(std::shared_ptr<WireListener> listener);
std::shared_ptr<WireListener> wire_listener();

}  // namespace zorvane
