// Recorded traffic that must not change: the exact frames of a KX and a QM
// pass, of every setting write, of the search of four devices, and the poll
// JSON of each model. The traces under golden/ were recorded from the tool
// and the simulated devices; a difference fails the test and leaves the new
// trace under golden-actual/ in the build folder, for review.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "app/cli/state_json.h"
#include "device/poll_cycle.h"
#include "device/setting_write.h"
#include "link/discovery.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "scoped_env.h"
#include "sim/device_model.h"

namespace zorvane {
namespace {

// Simulated devices on numbered ports, answering at once; every open, close,
// write and read is logged.
struct Bench {
    std::map<int, std::unique_ptr<sim::SimDevice>> devices;
    sim::SimDevice* active = nullptr;
    std::vector<uint8_t> pending;
    std::string log;

    void add(int com, DeviceModel model, std::optional<std::string> serial) {
        devices[com] = std::make_unique<sim::SimDevice>(sim::DeviceConfig{model, serial, {}});
    }
};

void append_hex(std::string& out, const uint8_t* data, size_t size) {
    char text[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(text, sizeof text, " %02X", data[i]);
        out += text;
    }
}

class BenchBackend : public PortBackend {
  public:
    explicit BenchBackend(Bench& bench) : m_bench(bench) {}
    PortOpen open(const std::string& path) override {
        const size_t at = path.rfind("COM");
        const int com = at == std::string::npos ? -1 : std::atoi(path.c_str() + at + 3);
        const auto it = m_bench.devices.find(com);
        if (it == m_bench.devices.end()) {
            return PortOpen::failed(PortAccess::Missing, ENOENT, "no such device");
        }
        m_bench.active = it->second.get();
        m_bench.pending.clear();
        m_bench.log += "open COM" + std::to_string(com) + "\n";
        return PortOpen::usable();
    }
    void close() override {
        if (m_bench.active) {
            m_bench.log += "close\n";
        }
        m_bench.active = nullptr;
    }
    bool is_open() const override { return m_bench.active != nullptr; }
    void apply_line_settings() override {}
    bool write(const uint8_t* data, size_t size) override {
        m_bench.log += ">";
        append_hex(m_bench.log, data, size);
        m_bench.log += "\n";
        for (const sim::ReplyPlan& plan : m_bench.active->receive({data, size})) {
            m_bench.pending.insert(m_bench.pending.end(), plan.bytes.begin(), plan.bytes.end());
        }
        return true;
    }
    int read(uint8_t* data, size_t size) override {
        const size_t n = std::min(size, m_bench.pending.size());
        std::copy_n(m_bench.pending.begin(), n, data);
        m_bench.pending.erase(m_bench.pending.begin(),
                              m_bench.pending.begin() + static_cast<long>(n));
        m_bench.log += "<";
        append_hex(m_bench.log, data, n);
        m_bench.log += "\n";
        return static_cast<int>(n);
    }

  private:
    Bench& m_bench;
};

struct Rig {
    testing::ScopedEnv dir{"ZORVANE_PORT_DIR", "/golden"};
    Bench bench;
    SerialPort port{std::make_unique<BenchBackend>(bench)};
    std::unique_ptr<DeviceState> state = std::make_unique<DeviceState>();

    // The bench's ports, probed one at a time so that the trace is one
    // sequence.
    SearchOptions search() {
        SearchOptions options;
        std::vector<PortInfo> ports;
        for (const auto& [com, device] : bench.devices) {
            PortInfo port;
            port.com = com;
            port.path = "/golden/COM" + std::to_string(com);
            ports.push_back(port);
        }
        options.ports = std::move(ports);
        options.backend = [this] { return std::make_unique<BenchBackend>(bench); };
        options.max_parallel = 1;
        return options;
    }
};

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void expect_golden(const std::string& name, const std::string& actual) {
    const std::filesystem::path golden = std::filesystem::path(ZORVANE_GOLDEN_DIR) / name;
    const std::string expected = read_text(golden);
    if (expected == actual) {
        return;
    }
    const std::filesystem::path out = std::filesystem::path("golden-actual") / name;
    std::filesystem::create_directories(out.parent_path());
    std::ofstream(out, std::ios::binary) << actual;
    ADD_FAILURE() << name << " differs from its recording; the new trace is in "
                  << std::filesystem::absolute(out);
}

// Keys that describe the moment of the pass rather than the device.
std::string without_moment_keys(std::string json) {
    for (const std::string key : {"current", "last_answer"}) {
        const std::string member = ",\"" + key + "\":";
        const size_t at = json.find(member);
        if (at != std::string::npos) {
            const size_t end = json.find_first_of(",}", at + member.size());
            json.erase(at, end - at);
        }
    }
    return json;
}

void run_pass(Rig& rig, int family) {
    ASSERT_TRUE(rig.port.open(rig.state->g_com_port.load()));
    if (family == 1) {
        poll_cycle_kx(rig.port, *rig.state);
    } else {
        poll_cycle_qm(rig.port, *rig.state);
    }
    rig.port.close();
}

TEST(GoldenTrace, PollPassOfEachFamily) {
    for (const auto& [model, name] : {std::pair{DeviceModel::KX24, "kx24_pass.trace"},
                                      {DeviceModel::QM48, "qm48_pass.trace"}}) {
        Rig rig;
        rig.bench.add(4, model, "00017");
        rig.state->g_com_port.store(4);
        run_pass(rig, kind_of(model_profile(model).family));
        expect_golden(name, rig.bench.log);
    }
}

TEST(GoldenTrace, SearchOfFourDevices) {
    Rig rig;
    rig.bench.add(3, DeviceModel::KX24, "00017");
    rig.bench.add(9, DeviceModel::KX48, std::nullopt);
    rig.bench.add(40, DeviceModel::QM24, "A1");
    rig.bench.add(200, DeviceModel::QM48, "00042");
    for (const FoundDevice& found : search_devices(*rig.state, rig.search()).found) {
        rig.bench.log += "found COM" + std::to_string(found.port) + " " + found.caption +
                         " family " + std::to_string(kind_of(found.family())) + "\n";
    }
    rig.bench.log += "polled COM" + std::to_string(rig.state->g_com_port.load()) + " kind " +
                     std::to_string(rig.state->g_device_kind.load()) + "\n";
    expect_golden("search.trace", rig.bench.log);
}

TEST(GoldenTrace, PollJsonOfEachModel) {
    std::string lines;
    for (const DeviceModel model :
         {DeviceModel::KX24, DeviceModel::KX48, DeviceModel::QM24, DeviceModel::QM48}) {
        Rig rig;
        rig.bench.add(5, model, "00042");
        ASSERT_EQ(search_devices(*rig.state, rig.search()).found.size(), 1u);
        run_pass(rig, rig.state->g_device_kind.load());
        lines += without_moment_keys(cli::device_state_json(*rig.state)) + "\n";
    }
    expect_golden("poll.json", lines);
}

// Each setting field of each family, written with a typical value: the stored
// one and a half more, so that the scaled number has a fraction to truncate.
TEST(GoldenTrace, EverySettingWrite) {
    std::string trace;
    for (const auto& [model, family] : {std::pair{DeviceModel::KX24, 1}, {DeviceModel::QM48, 2}}) {
        std::vector<const SettingParam*> params;
        for (const SettingParam& param : setting_params()) {
            if ((param.page == SettingPage::Kx) == (family == 1)) {
                params.push_back(&param);
            }
        }
        std::sort(params.begin(), params.end(),
                  [](const auto* a, const auto* b) { return a->control_id < b->control_id; });
        Rig rig;
        rig.bench.add(6, model, "00042");
        rig.state->g_com_port.store(6);
        rig.state->g_worker_idle.store(1);
        run_pass(rig, family);
        rig.bench.log.clear();
        for (const SettingParam* param : params) {
            char text[32];
            std::snprintf(text, sizeof text, "%g",
                          static_cast<double>((rig.state.get()->*param->field).load()) + 1.5);
            rig.bench.log += "# " + std::string(param->name) + " " +
                             std::to_string(param->control_id) + " " + text + "\n";
            const SettingDecision decision = write_setting(rig.port, *rig.state, *param, text);
            EXPECT_EQ(decision.kind, SettingDecision::Kind::Send)
                << param->name << decision.refusal;
            // What the next pass would read back: the next threshold is
            // judged against the one just written, as on a live unit.
            (rig.state.get()->*param->field)
                .store(
                    static_cast<float>(std::trunc(std::atof(text) * param->scale) / param->scale));
        }
        if (family == 2) {
            rig.bench.log += "# fixed writes and actions\n";
            write_fixed_u8(rig.port, *rig.state, kEGenUbatWrite, 1);
            write_fixed_u8(rig.port, *rig.state, kEGenUbatWrite, 0);
            write_fixed_u16(rig.port, *rig.state, kEGenWorkWrite, kTrainingOnSeconds);
            write_fixed_u16(rig.port, *rig.state, kEGenWorkWrite, 0);
            send_action(rig.port, *rig.state, cmd::kGenerationOff);
            send_action(rig.port, *rig.state, cmd::kGenerationOn);
        }
        trace += rig.bench.log;
    }
    expect_golden("setting_writes.trace", trace);
}

}  // namespace
}  // namespace zorvane
