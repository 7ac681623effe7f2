// The monitor's NUT server: the command reader on its own, then Debian's
// real NUT clients (upsc, upsrw, upscmd, upsmon) against a monitor polling
// a simulated QM unit, on a loopback port.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <tuple>

#include "app/monitor/nut_server.h"
#include "monitor_rig.h"
#include "sim/port_directory.h"
#include "state/variables.h"

namespace zorvane::testing {
namespace {

using monitor::answer_nut;
using monitor::NutContext;
using monitor::NutRequest;
using monitor::NutSession;

// One unit as the monitor would hand it over, one writable setting, and
// one user of each kind.
NutContext context_with_unit(std::vector<NutRequest>* requests = nullptr) {
    NutContext context;
    DeviceState state;
    state.set_ubat_low.store(44.0f);
    state.bat_voltage.store(52.8f);
    for (const char* name : {"source_present", "generation"}) {
        const StatusBit* bit = find_status_bit(name, Family::Qm);
        (state.*bit->array)[static_cast<size_t>(bit->bit)].store(1);
    }
    const monitor::DeviceIdentity identity{"qm48_00042", "QM-48", "00042", Family::Qm};
    context.units.push_back(monitor::nut_unit("ups", identity, state, true, {"UbatLow", "gen"}));
    std::string error;
    EXPECT_TRUE(
        monitor::parse_nut_users("[mon]\n password = m1\n upsmon primary\n"
                                 "[sec]\n password = s1\n upsmon secondary\n"
                                 "[admin]\n password = \"a b\"\n actions = SET\n"
                                 " instcmds = load.off\n",
                                 context.users, error))
        << error;
    if (requests != nullptr) {
        context.carry_out = [requests](const NutRequest& r) { requests->push_back(r); };
    }
    return context;
}

std::string say(NutSession& session, NutContext& context, const std::string& line) {
    return answer_nut(session, context, line).text;
}

TEST(NutProtocol, WordsQuotesAndEscapes) {
    using monitor::split_nut_words;
    EXPECT_EQ(*split_nut_words("GET  VAR ups\t\"a b\" \"say \\\"hi\\\"\" c\\\\d\r"),
              (std::vector<std::string>{"GET", "VAR", "ups", "a b", "say \"hi\"", "c\\d"}));
    EXPECT_EQ(*split_nut_words("\"\""), (std::vector<std::string>{""}));
    EXPECT_FALSE(split_nut_words("GET \"open"));
    EXPECT_FALSE(split_nut_words("trailing\\"));
    EXPECT_EQ(monitor::nut_quote("a\"b\\c\nd"), "\"a\\\"b\\\\c d\"");
}

TEST(NutProtocol, ListingsAndErrorWords) {
    NutContext context = context_with_unit();
    NutSession s;
    EXPECT_EQ(say(s, context, "LIST UPS"),
              "BEGIN LIST UPS\nUPS ups \"QM-48 S/N 00042\"\nEND LIST UPS\n");
    EXPECT_EQ(say(s, context, "get var ups battery.voltage"), "VAR ups battery.voltage \"52.8\"\n");
    EXPECT_EQ(say(s, context, "LIST RW ups"),
              "BEGIN LIST RW ups\nRW ups battery.voltage.low \"44.0\"\nEND LIST RW ups\n");
    EXPECT_EQ(say(s, context, "LIST CMD ups"),
              "BEGIN LIST CMD ups\nCMD ups load.off\nCMD ups load.on\nEND LIST CMD ups\n");
    // The span of a 48 V unit's battery thresholds, not the wire's range.
    EXPECT_EQ(say(s, context, "LIST RANGE ups battery.voltage.low"),
              "BEGIN LIST RANGE ups battery.voltage.low\n"
              "RANGE ups battery.voltage.low \"36\" \"64\"\n"
              "END LIST RANGE ups battery.voltage.low\n");
    EXPECT_EQ(say(s, context, "GET TYPE ups battery.voltage.low"),
              "TYPE ups battery.voltage.low RW RANGE NUMBER\n");
    EXPECT_EQ(say(s, context, "GET TYPE ups device.model"), "TYPE ups device.model STRING:5\n");
    EXPECT_EQ(say(s, context, "GET NUMLOGINS ups"), "NUMLOGINS ups 0\n");
    EXPECT_EQ(say(s, context, "NETVER"), "1.3\n");
    for (const auto& [line, reply] : std::vector<std::pair<std::string, std::string>>{
             {"GET VAR nope battery.voltage", "ERR UNKNOWN-UPS\n"},
             {"GET VAR ups input.voltage", "ERR VAR-NOT-SUPPORTED\n"},
             {"GET CMDDESC ups shutdown.now", "ERR CMD-NOT-SUPPORTED\n"},
             {"GET VAR ups", "ERR INVALID-ARGUMENT\n"},
             {"LIST VAR", "ERR INVALID-ARGUMENT\n"},
             {"GET VAR \"ups", "ERR INVALID-ARGUMENT\n"},
             {"FROB", "ERR UNKNOWN-COMMAND\n"},
             {"STARTTLS", "ERR FEATURE-NOT-CONFIGURED\n"},
             {"", ""}}) {
        EXPECT_EQ(say(s, context, line), reply) << line;
    }
    // Not current: nothing from the last pass is given out as fresh.
    context.units[0].current = false;
    EXPECT_EQ(say(s, context, "GET VAR ups battery.voltage"), "ERR DATA-STALE\n");
    EXPECT_EQ(say(s, context, "LIST VAR ups"), "ERR DATA-STALE\n");
    EXPECT_TRUE(say(s, context, "LIST UPS").find("UPS ups") != std::string::npos);
    EXPECT_EQ(answer_nut(s, context, "LOGOUT").close, true);
}

TEST(NutProtocol, WritesCommandsAndShutdownNeedAUserWithTheRight) {
    std::vector<NutRequest> requests;
    NutContext context = context_with_unit(&requests);
    const std::string set = "SET VAR ups battery.voltage.low 44.5";
    NutSession anonymous;
    EXPECT_EQ(say(anonymous, context, set), "ERR USERNAME-REQUIRED\n");
    NutSession wrong;
    say(wrong, context, "USERNAME admin");
    EXPECT_EQ(say(wrong, context, set), "ERR PASSWORD-REQUIRED\n");
    say(wrong, context, "PASSWORD ab");
    EXPECT_EQ(say(wrong, context, set), "ERR ACCESS-DENIED\n");
    EXPECT_EQ(say(wrong, context, "PASSWORD \"a b\""), "ERR ALREADY-SET-PASSWORD\n");
    NutSession monitor_user;
    say(monitor_user, context, "USERNAME mon");
    say(monitor_user, context, "PASSWORD m1");
    EXPECT_EQ(say(monitor_user, context, set), "ERR ACCESS-DENIED\n");  // no SET action
    EXPECT_EQ(say(monitor_user, context, "INSTCMD ups load.off"), "ERR ACCESS-DENIED\n");

    NutSession admin;
    say(admin, context, "USERNAME admin");
    say(admin, context, "PASSWORD \"a b\"");
    EXPECT_EQ(say(admin, context, "SET VAR ups battery.voltage 50"), "ERR READONLY\n");
    for (const char* bad : {"x", "nan", "0x10", "1e9", "-1", ""}) {
        EXPECT_EQ(
            say(admin, context, std::string("SET VAR ups battery.voltage.low \"") + bad + "\""),
            "ERR INVALID-VALUE\n")
            << bad;
    }
    EXPECT_EQ(say(admin, context, "INSTCMD ups load.on"), "ERR ACCESS-DENIED\n");
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(say(admin, context, set), "OK\n");
    EXPECT_EQ(say(admin, context, "INSTCMD ups load.off"), "OK\n");
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].setting, "UbatLow");
    EXPECT_EQ(requests[0].value, "44.5");
    EXPECT_EQ(requests[1].setting, "gen");
    EXPECT_EQ(requests[1].value, "off");
    context.units[0].current = false;
    EXPECT_EQ(say(admin, context, set), "ERR DATA-STALE\n");
    EXPECT_EQ(requests.size(), 2U);
    context.units[0].current = true;

    // upsmon: logins counted while connected; only a primary sets FSD.
    NutSession secondary;
    say(secondary, context, "USERNAME sec");
    say(secondary, context, "PASSWORD s1");
    EXPECT_EQ(say(secondary, context, "LOGIN ups"), "OK\n");
    EXPECT_EQ(say(secondary, context, "LOGIN ups"), "ERR ALREADY-LOGGED-IN\n");
    EXPECT_EQ(say(secondary, context, "PRIMARY ups"), "ERR ACCESS-DENIED\n");
    EXPECT_EQ(say(secondary, context, "FSD ups"), "ERR ACCESS-DENIED\n");
    EXPECT_EQ(say(monitor_user, context, "LOGIN ups"), "OK\n");
    EXPECT_EQ(say(monitor_user, context, "GET NUMLOGINS ups"), "NUMLOGINS ups 2\n");
    EXPECT_EQ(say(monitor_user, context, "FSD ups"), "ERR ACCESS-DENIED\n");  // not yet primary
    EXPECT_EQ(say(monitor_user, context, "MASTER ups"), "OK MASTER-GRANTED\n");
    EXPECT_EQ(say(monitor_user, context, "FSD ups"), "OK FSD-SET\n");
    EXPECT_EQ(say(secondary, context, "GET VAR ups ups.status"), "VAR ups ups.status \"FSD OL\"\n");
    monitor::end_nut_session(secondary, context);
    EXPECT_EQ(say(monitor_user, context, "GET NUMLOGINS ups"), "NUMLOGINS ups 1\n");
}

TEST(NutProtocol, ListenAddresses) {
    std::string host;
    int port = 0;
    for (const auto& [text, want_host, want_port] :
         std::vector<std::tuple<std::string, std::string, int>>{{"", "127.0.0.1", 3493},
                                                                {":3494", "127.0.0.1", 3494},
                                                                {"0.0.0.0", "0.0.0.0", 3493},
                                                                {"[::1]:3495", "::1", 3495},
                                                                {"::", "::", 3493},
                                                                {"nas.lan:1", "nas.lan", 1}}) {
        ASSERT_TRUE(monitor::parse_nut_address(text, host, port)) << text;
        EXPECT_EQ(host, want_host) << text;
        EXPECT_EQ(port, want_port) << text;
    }
    for (const char* bad : {"h:", "h:0", "h:65536", "h:x", "h:+1", "[::1", "[::1]x", "[]:1"}) {
        EXPECT_FALSE(monitor::parse_nut_address(bad, host, port)) << bad;
    }
}

TEST(NutProtocol, UsersFiles) {
    monitor::NutUsers users;
    std::string error;
    ASSERT_TRUE(
        monitor::parse_nut_users("# users\n[a]\n\tpassword=x # comment\n"
                                 "\tactions = set fsd\n\tinstcmds = ALL\n"
                                 "\tupsmon master\n",
                                 users, error))
        << error;
    EXPECT_TRUE(users["a"].may_set && users["a"].may_fsd);
    EXPECT_TRUE(users["a"].instcmds.contains("all"));
    EXPECT_EQ(users["a"].upsmon, monitor::NutUser::Upsmon::Primary);
    for (const char* bad : {"password = x\n", "[a]\npassword = x y\n", "[a]\nupsmon boss\n",
                            "[a]\npassword = x\nactions = DESTROY\n", "[a]\nactions = SET\n",
                            "[a]\npassword = \"x\n", "[a]\ncolour = red\n"}) {
        EXPECT_FALSE(monitor::parse_nut_users(bad, users, error)) << bad;
    }
    EXPECT_FALSE(error.empty());
}

// ups.status from the unit's status bits, as each family has them.
TEST(NutUnits, StatusFromTheBits) {
    const auto status = [](Family family, std::vector<const char*> bits) {
        DeviceState state;
        for (const char* name : bits) {
            const StatusBit* bit = find_status_bit(name, family);
            EXPECT_NE(bit, nullptr) << name;
            (state.*bit->array)[static_cast<size_t>(bit->bit)].store(1);
        }
        const monitor::DeviceIdentity identity{"u", family == Family::Qm ? "QM-24" : "KX-24", "",
                                               family};
        for (const monitor::NutVar& var : monitor::nut_unit("u", identity, state, true, {}).vars) {
            if (var.name == "ups.status") {
                return var.value;
            }
        }
        return std::string("(none)");
    };
    EXPECT_EQ(status(Family::Qm, {"source_present", "generation", "float"}), "OL CHRG");
    EXPECT_EQ(status(Family::Qm, {"generation", "battery_low"}), "OB LB");
    EXPECT_EQ(status(Family::Qm, {"source_present", "overload", "bulk"}), "OL CHRG OFF OVER");
    // A KX unit has no input: always on its battery.
    EXPECT_EQ(status(Family::Kx, {"generation", "battery_low"}), "OB LB");
}

TEST(NutUnits, SettingsReadOnlyUnlessAllowedAndUnderStandardOrExperimentalNames) {
    DeviceState state;
    state.set_pmax.store(3000.0f);
    const monitor::DeviceIdentity identity{"qm24_1", "QM-24", "1", Family::Qm};
    const auto names = [&](const std::set<std::string>& allowed) {
        std::vector<std::string> rw;
        std::vector<std::string> all;
        for (const monitor::NutVar& var :
             monitor::nut_unit("u", identity, state, true, allowed).vars) {
            all.push_back(var.name);
            if (var.writable) {
                rw.push_back(var.name + "=" + var.setting);
            }
        }
        return std::pair{rw, all};
    };
    const auto [none, shown] = names({});
    EXPECT_TRUE(none.empty());
    for (const char* name : {"input.transfer.low", "input.transfer.high", "battery.voltage.low",
                             "output.voltage.nominal", "battery.voltage.nominal", "ups.load"}) {
        EXPECT_NE(std::find(shown.begin(), shown.end(), name), shown.end()) << name;
    }
    EXPECT_EQ(
        names({"UrmslowL", "UbatMin", "EGenUbat"}).first,
        (std::vector<std::string>{"input.transfer.low=UrmslowL", "experimental.ubat_min=UbatMin",
                                  "experimental.egen_ubat=EGenUbat"}));
}

// --- Debian's NUT clients against the monitor -----------------------------

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
            out.append(buf, n);
        }
        ::pclose(pipe);
    }
    // What the clients say of their TLS library on every start is no answer.
    const std::string note = "Init SSL without certificate database\n";
    for (size_t at; (at = out.find(note)) != std::string::npos;) {
        out.erase(at, note.size());
    }
    return out;
}

bool eventually(const std::function<bool()>& check) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!check()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

// A QM-48 unit on COM3, a KX-24 on COM5, and a monitor serving them over
// NUT alone.
struct NutRig {
    explicit NutRig(std::vector<std::string> extra = {}) {
        qm = ports.add(3, {DeviceModel::QM48, "00042", {}});
        ports.add(5, {DeviceModel::KX24, "7", {}});  // no mains input: not served without --nut-kx
        std::ofstream(dir.path / "upsd.users")
            << "[mon]\n  password = m1\n  upsmon primary\n"
            << "[admin]\n  password = a1\n  actions = SET\n  instcmds = load.off\n";
        ::chmod((dir.path / "upsd.users").c_str(), 0600);
        std::vector<std::string> args = {"--nut",       "127.0.0.1:" + std::to_string(port),
                                         "--interval",  "1",
                                         "--nut-users", (dir.path / "upsd.users").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        monitor.emplace(dir.path, ports.path(), args);
    }
    std::string ups() const { return "qm48_00042@127.0.0.1:" + std::to_string(port); }
    std::string upsc(const std::string& var = "") const {
        return run("upsc " + ups() + (var.empty() ? "" : " " + var));
    }
    bool serving() const {
        return eventually([this] { return upsc("ups.status").starts_with("OL"); });
    }

    TempDir dir;
    sim::PortDirectory ports;
    sim::SimulatedPort* qm = nullptr;
    int port = free_loopback_port();
    std::optional<MonitorRun> monitor;
};

TEST(NutClients, UpscUpsrwUpscmdAndAStaleUnit) {
    NutRig rig({"--allow-writes", "UbatLow,gen"});
    rig.qm->with_device([](sim::SimDevice& d) { d.set_battery(517); });
    ASSERT_TRUE(rig.serving()) << rig.monitor->log();
    EXPECT_EQ(run("upsc -l 127.0.0.1:" + std::to_string(rig.port)), "qm48_00042\n");
    const std::string all = rig.upsc();
    for (const char* line :
         {"device.model: QM-48\n", "device.serial: 00042\n", "device.type: ups\n",
          "battery.voltage: 51.7\n", "battery.voltage.nominal: 48\n", "battery.voltage.low: 44.0\n",
          "input.transfer.low: 170.0\n", "input.transfer.high: 250.0\n",
          "driver.name: zorvane\n"}) {
        EXPECT_NE(all.find(line), std::string::npos) << line << all;
    }

    const std::string rw = run("upsrw " + rig.ups());
    EXPECT_NE(rw.find("[battery.voltage.low]"), std::string::npos) << rw;
    EXPECT_NE(rw.find("Type: RANGE"), std::string::npos) << rw;
    EXPECT_EQ(rw.find("[input.transfer.low]"), std::string::npos) << rw;  // not allowed
    // A user without the SET action changes nothing.
    run("upsrw -s battery.voltage.low=44.5 -u mon -p m1 " + rig.ups());
    EXPECT_FALSE(holds_frame(*rig.qm, {0xBE, 0x4D, 0x01, 0xBD, 0xAA}));
    run("upsrw -s battery.voltage.low=44.5 -u admin -p a1 " + rig.ups());
    EXPECT_TRUE(eventually([&] { return rig.upsc("battery.voltage.low") == "44.5\n"; }))
        << rig.monitor->log();
    EXPECT_TRUE(holds_frame(*rig.qm, {0xBE, 0x4D, 0x01, 0xBD, 0xAA}));

    const std::string commands = run("upscmd -l " + rig.ups());
    EXPECT_NE(commands.find("load.off - "), std::string::npos) << commands;
    const std::string refused = run("upscmd -u mon -p m1 " + rig.ups() + " load.off");
    EXPECT_NE(refused.find("ERR ACCESS-DENIED"), std::string::npos) << refused;
    EXPECT_FALSE(holds_frame(*rig.qm, {0xBE, 0x49, 0xAA}));
    run("upscmd -u admin -p a1 " + rig.ups() + " load.off");
    EXPECT_TRUE(eventually([&] { return rig.upsc("ups.status").find("OFF") != std::string::npos; }))
        << rig.monitor->log();
    EXPECT_TRUE(holds_frame(*rig.qm, {0xBE, 0x49, 0xAA}));

    rig.qm->inject(sim::fault::silence());
    EXPECT_TRUE(eventually([&] { return rig.upsc().find("Data stale") != std::string::npos; }))
        << rig.monitor->log();
}

// 50 clients at once, some sending garbage, an endless line or nothing:
// each of the others gets its whole answer.
TEST(NutClients, FiftyClientsAtOnce) {
    NutRig rig;
    ASSERT_TRUE(rig.serving()) << rig.monitor->log();
    const auto connect_one = [&rig] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(rig.port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    std::vector<int> fds;
    for (int i = 0; i < 50; ++i) {
        fds.push_back(connect_one());
    }
    const std::string garbage(100000, 'x');
    for (int i = 0; i < 50; ++i) {
        const std::string line = i % 5 == 1   ? garbage + "\nLIST UPS\n"
                                 : i % 5 == 2 ? std::string("\x01\xff\"\\\n", 5) + "LIST UPS\n"
                                 : i % 5 == 3 ? ""
                                              : "LIST UPS\n";
        if (!line.empty()) {
            EXPECT_EQ(send(fds[static_cast<size_t>(i)], line.data(), line.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(line.size()));
        }
    }
    for (int i = 0; i < 50; ++i) {
        if (i % 5 == 3) {
            continue;
        }
        std::string got;
        char buf[4096];
        while (got.find("END LIST UPS\n") == std::string::npos) {
            const ssize_t n = recv(fds[static_cast<size_t>(i)], buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            got.append(buf, static_cast<size_t>(n));
        }
        EXPECT_TRUE(
            got.ends_with("BEGIN LIST UPS\nUPS qm48_00042 \"QM-48 S/N 00042\"\n"
                          "END LIST UPS\n"))
            << i << ": " << got.substr(0, 200);
    }
    for (const int fd : fds) {
        close(fd);
    }
    EXPECT_EQ(rig.upsc("device.model"), "QM-48\n");
}

// upsmon as the primary of the unit, with its own configuration file:
// its shutdown command runs once the unit is on battery with the battery
// low, not while it only runs on battery.
TEST(NutClients, UpsmonShutsDownOnBatteryLowOnly) {
    NutRig rig;
    ASSERT_TRUE(rig.serving()) << rig.monitor->log();
    const std::filesystem::path ran = rig.dir.path / "shutdown.ran";
    const std::filesystem::path script = rig.dir.path / "shutdown.sh";
    std::ofstream(script) << "#!/bin/sh\necho shutdown >> " << ran.string() << "\n";
    ::chmod(script.c_str(), 0755);
    const std::filesystem::path conf = rig.dir.path / "upsmon.conf";
    std::ofstream(conf) << "MONITOR " << rig.ups() << " 1 mon m1 primary\n"
                        << "MINSUPPLIES 1\nSHUTDOWNCMD \"" << script.string() << "\"\n"
                        << "POLLFREQ 1\nPOLLFREQALERT 1\nHOSTSYNC 1\nDEADTIME 5\n"
                        << "FINALDELAY 0\nPOWERDOWNFLAG " << (rig.dir.path / "killpower").string()
                        << "\n";
    ::chmod(conf.c_str(), 0600);
    const pid_t upsmon =
        spawn({"/lib/nut/upsmon", "-D", "-p"},
              {"NUT_CONFPATH=" + rig.dir.path.string(), "NUT_STATEPATH=" + rig.dir.path.string()},
              rig.dir.path / "upsmon.log");
    ASSERT_GT(upsmon, 0);
    const auto upsmon_log = [&] {
        std::ifstream in(rig.dir.path / "upsmon.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_TRUE(eventually([&] {
        return upsmon_log().find("Logged into UPS") != std::string::npos;
    })) << upsmon_log();

    // The mains fails: on battery, upsmon only notes it.
    rig.qm->with_device([](sim::SimDevice& d) { d.set_status_bit("source_present", false); });
    EXPECT_TRUE(eventually([&] { return rig.upsc("ups.status").starts_with("OB"); }));
    EXPECT_TRUE(eventually([&] { return upsmon_log().find("on battery") != std::string::npos; }))
        << upsmon_log();
    std::this_thread::sleep_for(std::chrono::seconds(3));  // several of upsmon's polls
    EXPECT_FALSE(std::filesystem::exists(ran)) << upsmon_log();

    // The battery runs low: the primary sets FSD and shuts the host down.
    rig.qm->with_device([](sim::SimDevice& d) { d.set_status_bit("battery_low", true); });
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(ran); })) << upsmon_log();
    EXPECT_TRUE(rig.upsc("ups.status").starts_with("FSD OB LB")) << rig.upsc("ups.status");
    kill(upsmon, SIGTERM);
    wait_exit(upsmon);
    // The mains is back: the hosts starting again find no FSD.
    rig.qm->with_device([](sim::SimDevice& d) {
        d.set_status_bit("battery_low", false);
        d.set_status_bit("source_present", true);
    });
    EXPECT_TRUE(eventually([&] { return rig.upsc("ups.status").starts_with("OL"); }))
        << rig.upsc("ups.status");
    // upsmon keeps its pid file where Debian puts it; ours is removed.
    std::ifstream pid_file("/run/nut/upsmon.pid");
    pid_t written = 0;
    if (pid_file >> written && written == upsmon) {
        std::filesystem::remove("/run/nut/upsmon.pid");
    }
}

TEST(NutClients, AUsersFileOthersMayReadIsRefused) {
    TempDir dir;
    const std::filesystem::path users = dir.path / "upsd.users";
    std::ofstream(users) << "[a]\npassword = x\n";
    ::chmod(users.c_str(), 0644);
    MonitorRun monitor(dir.path, dir.path, {"--nut", "127.0.0.1:1", "--nut-users", users.string()});
    EXPECT_EQ(monitor.stop(0), 1);
    EXPECT_NE(monitor.log().find("others may read it"), std::string::npos) << monitor.log();
    // The NUT options need --nut; without --mqtt or --nut nothing runs.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--nut-name", "ups"}, {"--nut-kx"}, {"--interval", "1"}, {"--nut", "h:x"}}) {
        MonitorRun wrong(dir.path, dir.path, args);
        EXPECT_EQ(wrong.stop(0), 2) << args[0];
    }
}

}  // namespace
}  // namespace zorvane::testing
