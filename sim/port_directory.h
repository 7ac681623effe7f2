// A directory of COMn links to simulated devices: point ZORVANE_PORT_DIR at
// it and the tool finds the devices on those port numbers.
#pragma once

#include <filesystem>
#include <map>
#include <memory>

#include "sim/simulated_port.h"

namespace zorvane::sim {

class PortDirectory {
  public:
    // An empty path makes a fresh temporary directory, removed at the end;
    // a given one must exist and is left in place (only our links go).
    explicit PortDirectory(std::filesystem::path dir = {});
    ~PortDirectory();
    PortDirectory(const PortDirectory&) = delete;
    PortDirectory& operator=(const PortDirectory&) = delete;

    const std::filesystem::path& path() const { return m_dir; }

    // Starts a device and links COMn to its terminal; null when COMn is taken
    // or no terminal could be had.
    SimulatedPort* add(int com_port, const DeviceConfig& config, PortOptions options = {});
    // A terminal whose device never answers (the tool's bytes are recorded).
    SimulatedPort* add_silent(int com_port, PortOptions options = {});
    // A captured unit answering from its trace (sim/replay.h).
    SimulatedPort* add_replay(int com_port, std::shared_ptr<ReplayUnit> replay,
                              PortOptions options = {});
    SimulatedPort* port(int com_port);

    // The adapter is pulled: the device's line drops (the tool's next read or
    // write fails), its link goes, and COMn is free for the next add (a
    // replug, of the same device or another).
    void unplug(int com_port);

    // Stops every device and removes the links.
    void clear();

  private:
    SimulatedPort* attach(int com_port, std::unique_ptr<SimulatedPort> port);

    std::filesystem::path m_dir;
    bool m_owns_dir = false;
    std::map<int, std::unique_ptr<SimulatedPort>> m_ports;
};

}  // namespace zorvane::sim
