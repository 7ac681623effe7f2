#include "record/csv_recorder.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link/file_access.h"

namespace zorvane {

namespace {

constexpr std::string_view kFixedColumns = "time,elapsed_s,link";
// A refusal quotes this much of a first line that is no header at all.
constexpr size_t kQuotedBytes = 160;

// The cells of a header, for saying where two headers part.
std::vector<std::string> cells(std::string_view line) {
    std::vector<std::string> out;
    size_t begin = 0;
    for (;;) {
        const size_t comma = line.find(',', begin);
        out.push_back(printable(line.substr(begin, comma - begin)));
        if (comma == std::string::npos) {
            return out;
        }
        begin = comma + 1;
    }
}

std::string header_difference(std::string_view ours, std::string_view theirs) {
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
    return "the same columns";
}

// The line at the start of `text`, without its line end; `ended` tells
// whether a '\n' ended it.
std::string_view line_at(std::string_view text, bool& ended, bool& crlf) {
    const size_t end = text.find('\n');
    ended = end != std::string_view::npos;
    std::string_view line = text.substr(0, end);
    crlf = ended && line.ends_with('\r');
    if (crlf)
        line.remove_suffix(1);
    return line;
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

RecordingStart read_recording_start(std::string_view start, std::string_view header) {
    RecordingStart out;
    if (start.empty())
        return out;
    bool ended = false;
    const std::string_view first = line_at(start, ended, out.crlf);
    if (!ended && start.size() >= kRecordingStartBytes) {
        out.kind = RecordingStart::Kind::NotARecording;
        out.found = "no line end in its first " + size_text(kRecordingStartBytes);
        return out;
    }
    if (first == header) {
        out.kind = RecordingStart::Kind::Continue;
        if (!ended)
            return out;
        bool crlf = false;
        const size_t next = first.size() + (out.crlf ? 2 : 1);
        const std::string_view second = line_at(start.substr(next), ended, crlf);
        out.first_ms = parse_iso_utc_ms(std::string(second.substr(0, second.find(','))));
        return out;
    }
    if (first == kFixedColumns || first.starts_with(std::string(kFixedColumns) + ",")) {
        out.kind = RecordingStart::Kind::OtherRecording;
        out.found = header_difference(header, first);
        return out;
    }
    out.kind = RecordingStart::Kind::NotARecording;
    if (first.empty()) {
        out.found = "its first line is empty";
    } else if (first.size() <= kQuotedBytes) {
        out.found = "its first line is '" + printable(first) + "'";
    } else {
        out.found = "its first line is '" + printable(first.substr(0, kQuotedBytes)) + "…' (" +
                    std::to_string(first.size()) + " bytes)";
    }
    return out;
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

    m_line_end = "\n";
    const std::string head = header(columns);
    bool write_header = true;
    bool newline_first = false;
    if (path == "-") {
        m_file = stdout;
        m_owns_file = false;
    } else {
        std::FILE* file = nullptr;
        if (const FileOutcome opened = open_regular_file(path, FileUse::Append, file);
            !opened.ok()) {
            m_error = path + ": " + opened.error + "; nothing was written";
            return m_error;
        }
        // The start of the file tells whether it is this recording; the
        // last byte, whether a killed run left a row without its line end.
        std::string start(kRecordingStartBytes, '\0');
        start.resize(std::fread(start.data(), 1, start.size(), file));
        const bool ends_with_newline =
            start.empty() || (std::fseek(file, -1, SEEK_END) == 0 && std::getc(file) == '\n');
        const bool unreadable = std::ferror(file) != 0;
        const RecordingStart found = read_recording_start(start, head);
        if (unreadable || found.kind == RecordingStart::Kind::OtherRecording ||
            found.kind == RecordingStart::Kind::NotARecording) {
            m_refused = found.kind == RecordingStart::Kind::OtherRecording;
            m_error = path + ": " +
                      (unreadable  ? std::string(std::strerror(errno))
                       : m_refused ? "the file holds another recording (" + found.found + ")"
                                   : "not a recording of this tool (" + found.found + ")") +
                      "; nothing was written, choose another file";
            std::fclose(file);
            return m_error;
        }
        if (found.kind == RecordingStart::Kind::Continue) {
            write_header = false;
            newline_first = !ends_with_newline;
            m_first_ms = found.first_ms;
            // A copy that went through Windows keeps its CR LF line ends.
            if (found.crlf)
                m_line_end = "\r\n";
        }
        std::fseek(file, 0, SEEK_END);
        m_file = file;
        m_owns_file = true;
    }
    std::string prefix = newline_first ? m_line_end : "";
    if (write_header) {
        prefix += head + m_line_end;
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
    line += m_line_end;
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
