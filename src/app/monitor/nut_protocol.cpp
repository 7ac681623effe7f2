#include "app/monitor/nut_protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace zorvane::monitor {

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

NutReply err(const char* word) {
    return {std::string("ERR ") + word + "\n", false};
}

NutReply ok(const std::string& text = "OK") {
    return {text + "\n", false};
}

const NutUnit* find_unit(const NutContext& context, const std::string& name) {
    for (const NutUnit& unit : context.units) {
        if (unit.name == name) {
            return &unit;
        }
    }
    return nullptr;
}

const NutVar* find_var(const NutUnit& unit, const std::string& name) {
    for (const NutVar& var : unit.vars) {
        if (var.name == name) {
            return &var;
        }
    }
    return nullptr;
}

const NutCommand* find_command(const NutUnit& unit, const std::string& name) {
    for (const NutCommand& command : unit.commands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

// A primary's FSD shows first in the status, as upsmon looks for it.
std::string value_of(const NutContext& context, const NutUnit& unit, const NutVar& var) {
    if (var.name == "ups.status" && context.fsd.contains(unit.name)) {
        return var.value.empty() ? "FSD" : "FSD " + var.value;
    }
    return var.value;
}

// The user named by the session, when its password matches; null otherwise.
const NutUser* authenticated(const NutSession& session, const NutContext& context) {
    if (!session.username || !session.password) {
        return nullptr;
    }
    const auto found = context.users.find(*session.username);
    if (found == context.users.end() || found->second.password != *session.password) {
        return nullptr;
    }
    return &found->second;
}

// Why a session may not act yet: no name, no password, or no such user.
const char* missing_credentials(const NutSession& session) {
    if (!session.username) {
        return "USERNAME-REQUIRED";
    }
    if (!session.password) {
        return "PASSWORD-REQUIRED";
    }
    return "ACCESS-DENIED";
}

// The user and the unit a command that acts needs: both found, or the
// refusal in `error`.
struct Acting {
    const NutUser* user = nullptr;
    const NutUnit* unit = nullptr;
    const char* error = nullptr;
};
Acting acting(const NutSession& session, const NutContext& context, const std::string& ups) {
    Acting a;
    a.user = authenticated(session, context);
    if (a.user == nullptr) {
        a.error = missing_credentials(session);
        return a;
    }
    a.unit = find_unit(context, ups);
    if (a.unit == nullptr) {
        a.error = "UNKNOWN-UPS";
    }
    return a;
}

bool parse_number(const std::string& text, double& value) {
    if (text.empty() || text.size() > 32) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(value) &&
           text.find_first_of("xXpPnN") == std::string::npos;  // no hex, inf or nan
}

std::string number_text(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

NutReply list(const std::string& head, const std::vector<std::string>& rows) {
    NutReply reply{"BEGIN LIST " + head + "\n", false};
    for (const std::string& row : rows) {
        reply.text += row + "\n";
    }
    reply.text += "END LIST " + head + "\n";
    return reply;
}

NutReply answer_list(const NutContext& context, const std::vector<std::string>& w) {
    if (w.size() < 2) {
        return err("INVALID-ARGUMENT");
    }
    const std::string what = upper(w[1]);
    if (what == "UPS") {
        if (w.size() != 2) {
            return err("INVALID-ARGUMENT");
        }
        std::vector<std::string> rows;
        for (const NutUnit& unit : context.units) {
            rows.push_back("UPS " + unit.name + " " + nut_quote(unit.description));
        }
        return list("UPS", rows);
    }
    if (w.size() < 3) {
        return err("INVALID-ARGUMENT");
    }
    const NutUnit* unit = find_unit(context, w[2]);
    const bool per_var = what == "ENUM" || what == "RANGE";
    const bool known = what == "VAR" || what == "RW" || what == "CMD" || what == "CLIENT";
    if ((!per_var && !known) || w.size() != (per_var ? 4U : 3U)) {
        return err("INVALID-ARGUMENT");
    }
    if (unit == nullptr) {
        return err("UNKNOWN-UPS");
    }
    const std::string head = what + " " + unit->name + (per_var ? " " + w[3] : "");
    std::vector<std::string> rows;
    if (what == "CMD") {
        for (const NutCommand& command : unit->commands) {
            rows.push_back("CMD " + unit->name + " " + command.name);
        }
        return list(head, rows);
    }
    if (what == "CLIENT") {
        return list(head, rows);  // addresses of others are nobody's business
    }
    // Old values are never given out as if they were fresh.
    if (!unit->current) {
        return err("DATA-STALE");
    }
    if (per_var) {
        const NutVar* var = find_var(*unit, w[3]);
        if (var == nullptr) {
            return err("VAR-NOT-SUPPORTED");
        }
        if (what == "ENUM") {
            for (size_t i = 0; i < var->choices.size(); ++i) {
                rows.push_back("ENUM " + head.substr(5) + " " + nut_quote(std::to_string(i)));
            }
        } else if (var->min && var->max) {
            rows.push_back("RANGE " + head.substr(6) + " " + nut_quote(number_text(*var->min)) +
                           " " + nut_quote(number_text(*var->max)));
        }
        return list(head, rows);
    }
    for (const NutVar& var : unit->vars) {
        if (what == "VAR" || var.writable) {
            rows.push_back(what + " " + unit->name + " " + var.name + " " +
                           nut_quote(value_of(context, *unit, var)));
        }
    }
    return list(head, rows);
}

NutReply answer_get(const NutSession& session, const NutContext& context,
                    const std::vector<std::string>& w) {
    if (w.size() < 3) {
        return err("INVALID-ARGUMENT");
    }
    const std::string what = upper(w[1]);
    const bool per_unit = what == "UPSDESC" || what == "NUMLOGINS";
    const bool per_name = what == "VAR" || what == "TYPE" || what == "DESC" || what == "CMDDESC";
    if ((!per_unit && !per_name) || w.size() != (per_unit ? 3U : 4U)) {
        return err("INVALID-ARGUMENT");
    }
    const NutUnit* unit = find_unit(context, w[2]);
    if (unit == nullptr) {
        return err("UNKNOWN-UPS");
    }
    const std::string& name = unit->name;
    if (what == "UPSDESC") {
        return ok("UPSDESC " + name + " " + nut_quote(unit->description));
    }
    if (what == "NUMLOGINS") {
        const auto count = context.logins.find(name);
        return ok("NUMLOGINS " + name + " " +
                  std::to_string(count == context.logins.end() ? 0 : count->second));
    }
    if (what == "CMDDESC") {
        const NutCommand* command = find_command(*unit, w[3]);
        if (command == nullptr) {
            return err("CMD-NOT-SUPPORTED");
        }
        return ok("CMDDESC " + name + " " + command->name + " " + nut_quote(command->description));
    }
    const NutVar* var = find_var(*unit, w[3]);
    if (var == nullptr) {
        return err("VAR-NOT-SUPPORTED");
    }
    const std::string head = what + " " + name + " " + var->name + " ";
    if (what == "DESC") {
        return ok(head + nut_quote(var->description));
    }
    if (what == "TYPE") {
        std::string type = var->writable ? "RW " : "";
        if (!var->choices.empty()) {
            type += "ENUM";
        } else if (var->writable && var->min && var->max) {
            type += "RANGE NUMBER";
        } else {
            double number = 0;
            type += parse_number(var->value, number) || var->value.empty()
                        ? "NUMBER"
                        : "STRING:" + std::to_string(std::max<size_t>(var->value.size(), 1));
        }
        return ok(head + type);
    }
    (void)session;
    if (!unit->current) {
        return err("DATA-STALE");
    }
    return ok(head + nut_quote(value_of(context, *unit, *var)));
}

NutReply answer_set(const NutSession& session, NutContext& context,
                    const std::vector<std::string>& w) {
    if (w.size() != 5 || upper(w[1]) != "VAR") {
        return err("INVALID-ARGUMENT");
    }
    const auto [user, unit, refusal] = acting(session, context, w[2]);
    if (refusal != nullptr) {
        return err(refusal);
    }
    if (!user->may_set) {
        return err("ACCESS-DENIED");
    }
    const NutVar* var = find_var(*unit, w[3]);
    if (var == nullptr) {
        return err("VAR-NOT-SUPPORTED");
    }
    if (!var->writable) {
        return err("READONLY");
    }
    const std::string& value = w[4];
    if (value.size() > 32) {
        return err("TOO-LONG");
    }
    if (!var->choices.empty()) {
        const bool entry = value.size() == 1 && value[0] >= '0' &&
                           static_cast<size_t>(value[0] - '0') < var->choices.size();
        if (!entry) {
            return err("INVALID-VALUE");
        }
    } else {
        double number = 0;
        if (!parse_number(value, number) || (var->min && number < *var->min) ||
            (var->max && number > *var->max)) {
            return err("INVALID-VALUE");
        }
    }
    // Nothing is written on the strength of values that are not current.
    if (!unit->current) {
        return err("DATA-STALE");
    }
    if (context.carry_out) {
        context.carry_out({unit->name, var->setting, value, *session.username});
    }
    return ok();
}

NutReply answer_instcmd(const NutSession& session, NutContext& context,
                        const std::vector<std::string>& w) {
    if (w.size() != 3 && w.size() != 4) {
        return err("INVALID-ARGUMENT");
    }
    const auto [user, unit, refusal] = acting(session, context, w[1]);
    if (refusal != nullptr) {
        return err(refusal);
    }
    const std::string command = lower(w[2]);
    if (!user->instcmds.contains("all") && !user->instcmds.contains(command)) {
        return err("ACCESS-DENIED");
    }
    if (find_command(*unit, command) == nullptr) {
        return err("CMD-NOT-SUPPORTED");
    }
    if (w.size() == 4) {
        return err("INVALID-ARGUMENT");  // neither command takes a value
    }
    if (!unit->current) {
        return err("DATA-STALE");
    }
    if (context.carry_out) {
        context.carry_out(
            {unit->name, "gen", command == "load.on" ? "on" : "off", *session.username});
    }
    return ok();
}

NutReply answer_login(NutSession& session, NutContext& context, const std::vector<std::string>& w) {
    if (w.size() != 2) {
        return err("INVALID-ARGUMENT");
    }
    if (!session.login.empty()) {
        return err("ALREADY-LOGGED-IN");
    }
    const Acting a = acting(session, context, w[1]);
    if (a.error != nullptr) {
        return err(a.error);
    }
    if (a.user->upsmon == NutUser::Upsmon::None) {
        return err("ACCESS-DENIED");
    }
    session.login = w[1];
    ++context.logins[session.login];
    return ok();
}

}  // namespace

std::optional<std::vector<std::string>> split_nut_words(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            if (i + 1 >= line.size()) {
                return std::nullopt;
            }
            word += line[++i];
            in_word = true;
        } else if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
            if (in_word) {
                words.push_back(std::move(word));
                word.clear();
                in_word = false;
            }
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (in_word) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string nut_quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        // A line end inside a value would end the reply line.
        out += c == '\n' || c == '\r' ? ' ' : c;
    }
    return out + "\"";
}

NutReply answer_nut(NutSession& session, NutContext& context, std::string_view line) {
    const auto words = split_nut_words(line);
    if (!words) {
        return err("INVALID-ARGUMENT");
    }
    const std::vector<std::string>& w = *words;
    if (w.empty()) {
        return {"", false};  // an empty line is no command
    }
    const std::string command = upper(w[0]);
    if (command == "VER" && w.size() == 1) {
        return ok("Zorvane " + context.version + " (NUT network protocol 1.3)");
    }
    if ((command == "NETVER" || command == "PROTVER") && w.size() == 1) {
        return ok("1.3");
    }
    if (command == "HELP" && w.size() == 1) {
        return ok(
            "Commands: HELP VER NETVER GET LIST SET INSTCMD LOGIN LOGOUT USERNAME "
            "PASSWORD PRIMARY FSD STARTTLS");
    }
    if (command == "STARTTLS" && w.size() == 1) {
        return err("FEATURE-NOT-CONFIGURED");
    }
    if (command == "LOGOUT" && w.size() == 1) {
        end_nut_session(session, context);
        return {"OK Goodbye\n", true};
    }
    if (command == "LIST") {
        return answer_list(context, w);
    }
    if (command == "GET") {
        return answer_get(session, context, w);
    }
    if (command == "SET") {
        return answer_set(session, context, w);
    }
    if (command == "INSTCMD") {
        return answer_instcmd(session, context, w);
    }
    if (command == "USERNAME" || command == "PASSWORD") {
        if (w.size() != 2) {
            return err("INVALID-ARGUMENT");
        }
        std::optional<std::string>& field =
            command == "USERNAME" ? session.username : session.password;
        if (field) {
            return err(command == "USERNAME" ? "ALREADY-SET-USERNAME" : "ALREADY-SET-PASSWORD");
        }
        field = w[1];
        return ok();
    }
    if (command == "LOGIN") {
        return answer_login(session, context, w);
    }
    if (command == "PRIMARY" || command == "MASTER" || command == "FSD") {
        if (w.size() != 2) {
            return err("INVALID-ARGUMENT");
        }
        const Acting a = acting(session, context, w[1]);
        if (a.error != nullptr) {
            return err(a.error);
        }
        const bool primary = a.user->upsmon == NutUser::Upsmon::Primary;
        if (command != "FSD") {
            if (!primary) {
                return err("ACCESS-DENIED");
            }
            session.primary = true;
            return ok(command == "PRIMARY" ? "OK PRIMARY-GRANTED" : "OK MASTER-GRANTED");
        }
        if (!a.user->may_fsd && !(session.primary && primary)) {
            return err("ACCESS-DENIED");
        }
        context.fsd.insert(w[1]);
        return ok("OK FSD-SET");
    }
    return err("UNKNOWN-COMMAND");
}

void end_nut_session(NutSession& session, NutContext& context) {
    if (!session.login.empty()) {
        auto count = context.logins.find(session.login);
        if (count != context.logins.end() && --count->second <= 0) {
            context.logins.erase(count);
        }
        session.login.clear();
    }
}

bool parse_nut_users(std::string_view text, NutUsers& users, std::string& error) {
    users.clear();
    NutUser* current = nullptr;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        const auto parsed = split_nut_words(line);
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (!parsed) {
            return fail("an open quote");
        }
        std::vector<std::string> w = *parsed;
        if (w.empty()) {
            continue;
        }
        if (w.size() == 1 && w[0].size() > 2 && w[0].front() == '[' && w[0].back() == ']') {
            current = &users[w[0].substr(1, w[0].size() - 2)];
            continue;
        }
        if (current == nullptr) {
            return fail("a setting before the first [user]");
        }
        // "key = value …" or "key=value"
        if (w.size() == 1 && w[0].find('=') != std::string::npos) {
            const size_t eq = w[0].find('=');
            w = {w[0].substr(0, eq), "=", w[0].substr(eq + 1)};
        }
        const std::string key = lower(w[0]);
        if (key == "upsmon") {
            const std::string role = w.size() == 2 ? lower(w[1]) : "";
            if (role == "primary" || role == "master") {
                current->upsmon = NutUser::Upsmon::Primary;
            } else if (role == "secondary" || role == "slave") {
                current->upsmon = NutUser::Upsmon::Secondary;
            } else {
                return fail("upsmon takes primary or secondary");
            }
            continue;
        }
        if (w.size() < 3 || w[1] != "=") {
            return fail("expected NAME = VALUE");
        }
        if (key == "password") {
            if (w.size() != 3) {
                return fail("a password with blanks must be quoted");
            }
            current->password = w[2];
        } else if (key == "actions") {
            for (size_t i = 2; i < w.size(); ++i) {
                const std::string action = upper(w[i]);
                if (action == "SET") {
                    current->may_set = true;
                } else if (action == "FSD") {
                    current->may_fsd = true;
                } else {
                    return fail("unknown action " + w[i]);
                }
            }
        } else if (key == "instcmds") {
            for (size_t i = 2; i < w.size(); ++i) {
                for (std::string_view rest = w[i]; !rest.empty();) {
                    const size_t comma = rest.find(',');
                    const std::string name = lower(rest.substr(0, comma));
                    if (!name.empty()) {
                        current->instcmds.insert(name);
                    }
                    rest = comma == std::string_view::npos ? std::string_view{}
                                                           : rest.substr(comma + 1);
                }
            }
        } else {
            return fail("unknown setting " + w[0]);
        }
    }
    for (const auto& [name, user] : users) {
        if (user.password.empty()) {
            error = "user " + name + " has no password";
            return false;
        }
    }
    return true;
}

}  // namespace zorvane::monitor
