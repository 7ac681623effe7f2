// The NUT network protocol as a server speaks it: one command per line,
// its words split on blanks, "double quotes" keeping blanks, a backslash
// taking the next character as it is; each answered by one line, or a
// BEGIN LIST … END LIST block.
//
//   > GET VAR qm48_00042 battery.voltage      < VAR qm48_00042 battery.voltage "52.8"
//   > LIST UPS                                < BEGIN LIST UPS
//                                             < UPS qm48_00042 "QM-48 S/N 00042"
//                                             < END LIST UPS
//   > SET VAR qm48_00042 battery.voltage.low 44.5
//                                             < OK  (the write is queued; its read-back
//                                                    shows in the values that follow)
//
// Everything here is pure: a line and the table of units in, the reply out;
// the socket side (nut_server.h) carries the bytes and the queued writes.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvane::monitor {

// One variable of a served unit, its value as text.
struct NutVar {
    NutVar(std::string n, std::string v, std::string d)
        : name(std::move(n)), value(std::move(v)), description(std::move(d)) {}
    std::string name;  // "battery.voltage"
    std::string value;
    std::string description;
    bool writable = false;
    // Writable only: the setting it writes, and what it takes.
    std::string setting;               // "UbatLow"
    std::optional<double> min, max;    // LIST RANGE
    std::vector<std::string> choices;  // LIST ENUM (a choice setting's entries by number)
};

struct NutCommand {
    std::string name;  // "load.off"
    std::string description;
};

// A unit as the monitor hands it over after each pass.
struct NutUnit {
    std::string name;  // "qm48_00042", or the --nut-name
    std::string description;
    bool current = false;  // its last pass had an answer: values may be given out
    std::vector<NutVar> vars;
    std::vector<NutCommand> commands;
};

struct NutUser {
    std::string password;
    bool may_set = false;            // actions = SET
    bool may_fsd = false;            // actions = FSD, or upsmon primary
    std::set<std::string> instcmds;  // "all" for every one
    enum class Upsmon { None, Primary, Secondary } upsmon = Upsmon::None;
};
using NutUsers = std::map<std::string, NutUser>;

// A upsd.users text read into users; false with the line and its fault.
bool parse_nut_users(std::string_view text, NutUsers& users, std::string& error);

// A SET VAR or INSTCMD that passed every check, for the monitor to carry out
// through its one write routine.
struct NutRequest {
    std::string ups;
    std::string setting;  // the setting's own name, or "gen" for load.on/load.off
    std::string value;    // the text to write ("44.5", "on", "off")
    std::string user;
};

// What one connection has said of itself.
struct NutSession {
    std::string address;  // the client's, for the log
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::string login;  // the unit it logged in to (LOGIN), empty when none
    bool primary = false;
};

// The units and the state they share across connections.
struct NutContext {
    std::vector<NutUnit> units;
    NutUsers users;
    std::map<std::string, int> logins;  // per unit: connections logged in to it
    std::set<std::string> fsd;          // units a primary has set FSD on
    std::string version;                // the tool's, for VER
    std::function<void(const NutRequest&)> carry_out;
};

struct NutReply {
    std::string text;  // whole lines, each ending in '\n'
    bool close = false;
};

// Splits a line into its words; nullopt for an open quote or a trailing
// backslash.
std::optional<std::vector<std::string>> split_nut_words(std::string_view line);

// A value quoted for a reply: " and \ escaped.
std::string nut_quote(std::string_view text);

NutReply answer_nut(NutSession& session, NutContext& context, std::string_view line);

// A connection ends: its login no longer counts.
void end_nut_session(NutSession& session, NutContext& context);

}  // namespace zorvane::monitor
