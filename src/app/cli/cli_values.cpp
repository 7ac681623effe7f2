#include "app/cli/cli_values.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link/file_access.h"

namespace zorvane::cli {

namespace {

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool refuse(std::string_view option, const std::string& range, std::string_view text) {
    std::fprintf(stderr, "zorvane-cli: %.*s takes %s, not '%s'\n", static_cast<int>(option.size()),
                 option.data(), range.c_str(), printable(text).c_str());
    return false;
}

}  // namespace

bool whole_number_option(std::string_view option, std::string_view text, long long lowest,
                         long long highest, long long& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (error == std::errc{} && last == end && value >= lowest && value <= highest)
        return true;
    return refuse(
        option, "a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest),
        text);
}

bool seconds_option(std::string_view option, std::string_view text, double lowest, double highest,
                    double& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    // NaN fails both comparisons.
    if (error == std::errc{} && last == end && value >= lowest && value <= highest)
        return true;
    return refuse(option, "seconds from " + number_text(lowest) + " to " + number_text(highest),
                  text);
}

bool OnceEach::first(std::string_view option) {
    if (m_seen.emplace(option).second)
        return true;
    std::fprintf(stderr, "zorvane-cli: %.*s is given twice\n", static_cast<int>(option.size()),
                 option.data());
    return false;
}

int finish_output(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && std::ferror(stdout) == 0)
        return status;
    std::fprintf(stderr, "zorvane-cli: standard output could not be written%s%s\n",
                 errno != 0 ? ": " : "", errno != 0 ? std::strerror(errno) : "");
    return status != 0 ? status : 1;
}

}  // namespace zorvane::cli
