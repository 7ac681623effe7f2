#include "record/csv_recorder.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace zorvane {

namespace {

// The first line, the second line and whether the file ends with a line
// end; an empty or missing file has no first line.
struct FileStart {
    bool exists = false;
    std::string first;
    std::string second;
    bool ends_with_newline = true;
};

FileStart read_file_start(const std::string& path) {
    FileStart start;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return start;
    }
    start.exists = true;
    std::getline(in, start.first);
    std::getline(in, start.second);
    in.clear();
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::streamoff>(in.tellg());
    if (size > 0) {
        in.seekg(size - 1);
        start.ends_with_newline = in.get() == '\n';
    }
    return start;
}

std::string first_cell(const std::string& line) {
    return line.substr(0, line.find(','));
}

// The cells of a header, for saying where two headers part.
std::vector<std::string> cells(const std::string& line) {
    std::vector<std::string> out;
    size_t begin = 0;
    for (;;) {
        const size_t comma = line.find(',', begin);
        out.push_back(line.substr(begin, comma - begin));
        if (comma == std::string::npos) {
            return out;
        }
        begin = comma + 1;
    }
}

std::string header_difference(const std::string& ours, const std::string& theirs) {
    const std::vector<std::string> a = cells(ours);
    const std::vector<std::string> b = cells(theirs);
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::string here = i < a.size() ? a[i] : "(none)";
        const std::string there = i < b.size() ? b[i] : "(none)";
        if (here != there) {
            return "column " + std::to_string(i + 1) + " is '" + there + "' in the file, '" + here +
                   "' in this recording";
        }
    }
    return "line ends differ";
}

void append_number(std::string& out, double value, bool single) {
    if (!std::isfinite(value)) {
        return;  // unknown: an empty cell
    }
    char text[64];
    const auto [end, error] =
        single ? std::to_chars(text, text + sizeof text, static_cast<float>(value))
               : std::to_chars(text, text + sizeof text, value);
    (void)error;
    out.append(text, end);
}

}  // namespace

// Civil time from the calendar of <chrono>, not gmtime_r/timegm, which
// Windows does not have.
std::string iso_utc_ms(int64_t time_ms) {
    using namespace std::chrono;
    const sys_time<milliseconds> time{milliseconds{time_ms}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<milliseconds>(time - day)};
    char text[96];  // room for any int the format could meet
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

int64_t parse_iso_utc_ms(const std::string& text) {
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millis = 0;
    char z = 0;
    if (text.size() != 24 ||
        std::sscanf(text.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d.%3d%c", &year, &month, &day, &hour,
                    &minute, &second, &millis, &z) != 8 ||
        z != 'Z') {
        return -1;
    }
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                              std::chrono::day{day}};
    if (!date.ok()) {
        return -1;
    }
    const auto time =
        sys_days{date} + hours{hour} + minutes{minute} + seconds{second} + milliseconds{millis};
    return time.time_since_epoch().count();
}

std::string CsvRecorder::header(std::span<const RecordColumn> columns) {
    std::string line = "time,elapsed_s,link";
    for (const RecordColumn& column : columns) {
        line += ',';
        line += column.name;
    }
    return line;
}

CsvRecorder::~CsvRecorder() {
    close();
}

std::string CsvRecorder::open(const std::string& path, std::span<const RecordColumn> columns,
                              int64_t interval_ms) {
    close();
    m_error.clear();
    m_refused = false;
    m_single.clear();
    for (const RecordColumn& column : columns) {
        m_single.push_back(column.single);
    }
    m_interval_ms = interval_ms;
    m_first_ms = -1;
    m_last_row_ms = -1;
    m_lost = false;
    m_rows = 0;

    const std::string head = header(columns);
    bool write_header = true;
    bool newline_first = false;
    if (path == "-") {
        m_file = stdout;
        m_owns_file = false;
    } else {
        const FileStart start = read_file_start(path);
        if (start.exists && !start.first.empty()) {
            if (start.first != head) {
                m_error = path + ": the file holds another recording (" +
                          header_difference(head, start.first) +
                          "); nothing was written, choose another file";
                m_refused = true;
                return m_error;
            }
            write_header = false;
            // A run killed in the middle of a row left it without its line
            // end: the next row starts on a line of its own.
            newline_first = !start.ends_with_newline;
            m_first_ms = parse_iso_utc_ms(first_cell(start.second));
        }
        m_file = std::fopen(path.c_str(), "ab");
        if (m_file == nullptr) {
            m_error = path + ": " + std::strerror(errno);
            return m_error;
        }
        m_owns_file = true;
    }
    std::string prefix = newline_first ? "\n" : "";
    if (write_header) {
        prefix += head + "\n";
    }
    if (!prefix.empty() && (std::fputs(prefix.c_str(), m_file) < 0 || std::fflush(m_file) != 0)) {
        m_error = path + ": " + std::strerror(errno);
        close();
        return m_error;
    }
    return {};
}

void CsvRecorder::close() {
    if (m_file != nullptr) {
        if (m_owns_file) {
            std::fclose(m_file);
        } else {
            std::fflush(m_file);
        }
    }
    m_file = nullptr;
    m_owns_file = false;
}

bool CsvRecorder::record(const Sample& sample) {
    if (m_file == nullptr) {
        return false;
    }
    if (!sample.current) {
        return link_lost(sample.time_ms);
    }
    m_lost = false;
    if (m_last_row_ms >= 0 && m_interval_ms > 0 && sample.time_ms - m_last_row_ms < m_interval_ms) {
        return true;
    }
    if (!write_row(sample.time_ms, false, &sample.values)) {
        return false;
    }
    m_last_row_ms = sample.time_ms;
    ++m_rows;
    return true;
}

bool CsvRecorder::link_lost(int64_t time_ms) {
    if (m_file == nullptr) {
        return false;
    }
    if (m_lost) {
        return true;
    }
    m_lost = true;
    return write_row(time_ms, true, nullptr);
}

bool CsvRecorder::write_row(int64_t time_ms, bool lost, const std::vector<double>* values) {
    if (m_first_ms < 0) {
        m_first_ms = time_ms;
    }
    std::string line = iso_utc_ms(time_ms);
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, ",%.3f,",
                  static_cast<double>(time_ms - m_first_ms) / 1000);
    line += elapsed;
    line += lost ? "lost" : "ok";
    for (size_t i = 0; i < m_single.size(); ++i) {
        line += ',';
        if (values != nullptr && i < values->size()) {
            append_number(line, (*values)[i], m_single[i]);
        }
    }
    line += '\n';
    // One write per row, flushed at once: a killed run loses no written row.
    if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size() ||
        std::fflush(m_file) != 0) {
        m_error = std::string("the recording could not be written: ") + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

}  // namespace zorvane
