// Values of the command-line options: every number has a range, checked
// before anything starts, and a bad value is named with its range. An
// option is given once.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace zorvane::cli {

// --count of every command: passes or rows, 1 or more.
inline constexpr long long kMaxCount = 2147483647;
// --interval: at most a day.
inline constexpr double kMaxIntervalS = 86400;

// A whole number from `lowest` to `highest`; otherwise false, after saying
// on standard error "zorvane-cli: --count takes a whole number from 1 to
// 2147483647, not 'abc'".
bool whole_number_option(std::string_view option, std::string_view text, long long lowest,
                         long long highest, long long& value);

// Seconds (a decimal number, "2.5") from `lowest` to `highest`; otherwise
// false, after saying so like whole_number_option.
bool seconds_option(std::string_view option, std::string_view text, double lowest, double highest,
                    double& value);

// The options a command has met: false for one given before, after saying
// "zorvane-cli: --port is given twice".
class OnceEach {
  public:
    bool first(std::string_view option);

  private:
    std::set<std::string, std::less<>> m_seen;
};

// A failed write to standard output (a full disk, a closed pipe) is told on
// standard error, and the command fails for it: `status`, or 1 when the
// command had nothing else to report.
int finish_output(int status);

}  // namespace zorvane::cli
