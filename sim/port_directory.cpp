#include "sim/port_directory.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace zorvane::sim {

namespace fs = std::filesystem;

namespace {
fs::path link_path(const fs::path& dir, int com_port) {
    return dir / ("COM" + std::to_string(com_port));
}
}  // namespace

PortDirectory::PortDirectory(fs::path dir) : m_dir(std::move(dir)) {
    if (m_dir.empty()) {
        std::error_code ec;
        std::string pattern = (fs::temp_directory_path(ec) / "zorvane-ports-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            m_dir = pattern;
            m_owns_dir = true;
        }
    }
}

PortDirectory::~PortDirectory() {
    clear();
    if (m_owns_dir) {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
}

SimulatedPort* PortDirectory::add(int com_port, const DeviceConfig& config, PortOptions options) {
    return attach(com_port, std::make_unique<SimulatedPort>(config, options));
}

SimulatedPort* PortDirectory::add_silent(int com_port, PortOptions options) {
    auto port = std::make_unique<SimulatedPort>(DeviceConfig{}, options);
    port->inject(fault::silence());  // before the link exists, so no request slips through
    return attach(com_port, std::move(port));
}

SimulatedPort* PortDirectory::add_replay(int com_port, std::shared_ptr<ReplayUnit> replay,
                                         PortOptions options) {
    auto port = std::make_unique<SimulatedPort>(DeviceConfig{}, options);
    // Before the link exists, so that no request meets the device's own answers.
    port->with_device([&](SimDevice& device) { device.set_replay(std::move(replay)); });
    return attach(com_port, std::move(port));
}

SimulatedPort* PortDirectory::attach(int com_port, std::unique_ptr<SimulatedPort> port) {
    if (m_dir.empty() || m_ports.contains(com_port) || !port->ok()) {
        return nullptr;
    }
    std::error_code ec;
    const fs::path link = link_path(m_dir, com_port);
    fs::remove(link, ec);
    fs::create_symlink(port->terminal_path(), link, ec);
    if (ec) {
        return nullptr;
    }
    return m_ports.emplace(com_port, std::move(port)).first->second.get();
}

SimulatedPort* PortDirectory::port(int com_port) {
    const auto it = m_ports.find(com_port);
    return it == m_ports.end() ? nullptr : it->second.get();
}

void PortDirectory::unplug(int com_port) {
    const auto it = m_ports.find(com_port);
    if (it == m_ports.end()) {
        return;
    }
    it->second->hang_up();
    it->second->stop();
    std::error_code ec;
    fs::remove(link_path(m_dir, com_port), ec);
    m_ports.erase(it);
}

void PortDirectory::clear() {
    for (auto& [com_port, port] : m_ports) {
        port->stop();
        std::error_code ec;
        fs::remove(link_path(m_dir, com_port), ec);
    }
    m_ports.clear();
}

}  // namespace zorvane::sim
