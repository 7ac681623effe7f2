// The NUT server's command reader: any bytes, cut into lines as a client
// sends them, over one connection. Every answer is whole lines; a value is
// given out only while the unit is current; a write is handed on only for
// the writable variable, within its range, by the user with the right, and
// answered OK; a login count never goes below zero.
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/monitor/nut_protocol.h"
#include "fuzz_check.h"

namespace zorvane::fuzz {
namespace {

using namespace zorvane::monitor;

NutContext make_context(bool current) {
    NutContext context;
    NutUnit unit;
    unit.name = "ups";
    unit.description = "QM-48";
    unit.current = current;
    unit.vars.emplace_back("ups.status", "OL", "UPS status");
    NutVar low("battery.voltage.low", "44.0", "battery low voltage");
    low.writable = true;
    low.setting = "UbatLow";
    low.min = 40.0;
    low.max = 48.0;
    unit.vars.push_back(low);
    NutVar mode("experimental.egen_ubat", "0", "generator start");
    mode.writable = true;
    mode.setting = "EGenUbat";
    mode.choices = {"a", "b"};
    unit.vars.push_back(mode);
    unit.commands.push_back({"load.off", "off"});
    context.units.push_back(unit);
    std::string error;
    FUZZ_CHECK(
        parse_nut_users("[u]\npassword = p\nactions = SET\ninstcmds = all\nupsmon primary\n"
                        "[v]\npassword = q\n",
                        context.users, error));
    return context;
}

}  // namespace
}  // namespace zorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zorvane::fuzz;
    if (size == 0) {
        return 0;
    }
    const bool current = (data[0] & 1) != 0;
    NutContext context = make_context(current);
    std::vector<NutRequest> requests;
    context.carry_out = [&requests](const NutRequest& r) { requests.push_back(r); };
    NutSession session;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    while (!input.empty()) {
        const size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
        const size_t before = requests.size();
        const NutReply reply = answer_nut(session, context, line);
        FUZZ_CHECK(reply.text.empty() || reply.text.back() == '\n');
        if (!current) {
            FUZZ_CHECK(reply.text.find("VAR ups ups.status") == std::string::npos);
        }
        if (requests.size() != before) {
            FUZZ_CHECK(requests.size() == before + 1 && reply.text == "OK\n" && current);
            FUZZ_CHECK(session.username == "u" && session.password == "p");
            const NutRequest& r = requests.back();
            if (r.setting == "UbatLow") {
                const double v = std::strtod(r.value.c_str(), nullptr);
                FUZZ_CHECK(v >= 40.0 && v <= 48.0);
            } else if (r.setting == "EGenUbat") {
                FUZZ_CHECK(r.value == "0" || r.value == "1");
            } else {
                FUZZ_CHECK(r.setting == "gen" && r.value == "off");
            }
        }
        for (const auto& [name, count] : context.logins) {
            FUZZ_CHECK(count > 0);
        }
        if (reply.close) {
            break;
        }
    }
    end_nut_session(session, context);
    FUZZ_CHECK(context.logins.empty());
    return 0;
}
