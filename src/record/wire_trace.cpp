#include "record/wire_trace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/frame.h"
#include "record/csv_recorder.h"
#include "state/version.h"

namespace zorvane {

namespace {

constexpr std::string_view kWhitespace = " \t";

struct EntryName {
    TraceEntry entry;
    std::string_view name;
};
constexpr EntryName kEntries[] = {
    {TraceEntry::Tx, "tx"},           {TraceEntry::Rx, "rx"},
    {TraceEntry::Open, "open"},       {TraceEntry::OpenFailed, "open-failed"},
    {TraceEntry::Failure, "failure"}, {TraceEntry::Close, "close"},
};

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string escaped_port(const std::string& port) {
    std::string out;
    for (const char c : port) {
        if (c == ' ') {
            out += "%20";
        } else if (c == '%') {
            out += "%25";
        } else if (c == '\t' || c == '\n' || c == '\r') {
            out += '?';
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescaped_port(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 3) == "%20") {
            out += ' ';
            i += 2;
        } else if (text.substr(i, 3) == "%25") {
            out += '%';
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::vector<std::string_view> tokens_of(std::string_view line) {
    std::vector<std::string_view> tokens;
    size_t i = line.find_first_not_of(kWhitespace);
    while (i != std::string_view::npos) {
        const size_t end = line.find_first_of(kWhitespace, i);
        tokens.push_back(line.substr(i, end == std::string_view::npos ? end : end - i));
        i = end == std::string_view::npos ? end : line.find_first_not_of(kWhitespace, end);
    }
    return tokens;
}

// What is wrong with the line, or empty when `out` holds it.
std::string parse_line(std::string_view text, TraceLine& out) {
    const std::vector<std::string_view> tokens = tokens_of(text);
    out.time_ms = parse_iso_utc_ms(std::string(tokens[0]));
    if (out.time_ms < 0) {
        return "bad time '" + std::string(tokens[0]) + "' (expected 2026-12-11T09:30:00.000Z)";
    }
    if (tokens.size() < 3) {
        return "a port and an entry (tx, rx, open, open-failed, failure, close) are needed";
    }
    out.port = unescaped_port(tokens[1]);
    const auto* known = std::find_if(std::begin(kEntries), std::end(kEntries),
                                     [&](const EntryName& e) { return e.name == tokens[2]; });
    if (known == std::end(kEntries)) {
        return "unknown entry '" + std::string(tokens[2]) + "'";
    }
    out.entry = known->entry;
    switch (out.entry) {
        case TraceEntry::Tx:
        case TraceEntry::Rx:
            for (size_t t = 3; t < tokens.size(); ++t) {
                const std::string_view hex = tokens[t];
                for (size_t i = 0; i < hex.size(); i += 2) {
                    const int high = hex_digit(hex[i]);
                    const int low = i + 1 < hex.size() ? hex_digit(hex[i + 1]) : -1;
                    if (high < 0 || low < 0) {
                        return "bad byte '" + std::string(hex) + "' (two hex digits a byte)";
                    }
                    out.bytes.push_back(static_cast<uint8_t>(high << 4 | low));
                }
            }
            if (out.entry == TraceEntry::Tx && out.bytes.empty()) {
                return "tx without bytes";
            }
            break;
        case TraceEntry::OpenFailed:
            for (size_t t = 3; t < tokens.size(); ++t) {
                out.detail += (t > 3 ? " " : "") + std::string(tokens[t]);
            }
            break;
        case TraceEntry::Open:
        case TraceEntry::Failure:
        case TraceEntry::Close:
            if (tokens.size() > 3) {
                return "unexpected '" + std::string(tokens[3]) + "' after " +
                       std::string(tokens[2]);
            }
            break;
    }
    return {};
}

// The one place a trace file is opened for writing, so that the tool's
// careful file opening can take it over: a device node, a directory or a
// file that holds something else is never written to.
std::FILE* open_trace_target(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    bool ends_with_newline = true;
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) {
            error = path + ": not a regular file; nothing was written, choose another file";
            return nullptr;
        }
        std::ifstream in(path, std::ios::binary);
        std::string first;
        std::getline(in, first);
        if (!first.empty() && !first.starts_with(kTraceHeaderStart)) {
            error = path +
                    ": the file holds something other than a trace; nothing was written, "
                    "choose another file";
            return nullptr;
        }
        if (!first.empty()) {
            in.clear();
            in.seekg(-1, std::ios::end);
            ends_with_newline = in.get() == '\n';
        }
    }
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    // A run killed in the middle of a line left it without its line end.
    if (!ends_with_newline) {
        std::fputc('\n', file);
    }
    return file;
}

}  // namespace

ParsedTrace parse_trace(std::string_view text) {
    ParsedTrace parsed;
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const size_t first = line.find_first_not_of(kWhitespace);
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        TraceLine entry;
        entry.line = number;
        const std::string why = parse_line(line, entry);
        if (!why.empty()) {
            parsed.error_line = number;
            parsed.error = "line " + std::to_string(number) + ": " + why;
            parsed.lines.clear();
            return parsed;
        }
        parsed.lines.push_back(std::move(entry));
    }
    return parsed;
}

ParsedTrace read_trace_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ParsedTrace failed;
        failed.error_line = -1;
        failed.error = path + ": " + std::strerror(errno);
        return failed;
    }
    std::stringstream text;
    text << in.rdbuf();
    ParsedTrace parsed = parse_trace(text.str());
    if (!parsed.ok()) {
        parsed.error = path + ": " + parsed.error;
    }
    return parsed;
}

std::string trace_line_text(int64_t time_ms, const std::string& port, std::string_view entry,
                            std::span<const uint8_t> bytes) {
    std::string line = iso_utc_ms(time_ms) + " " + escaped_port(port) + " " + std::string(entry);
    char hex[4];
    for (const uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    return line;
}

TraceFile::~TraceFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

std::shared_ptr<TraceFile> TraceFile::open(const std::string& path, bool anonymize,
                                           std::string& error) {
    std::FILE* file = open_trace_target(path, error);
    if (file == nullptr) {
        return nullptr;
    }
    std::shared_ptr<TraceFile> trace(new TraceFile());
    trace->m_file = file;
    trace->m_path = path;
    trace->m_anonymize = anonymize;
    trace->write_line(std::string(kTraceHeaderStart) + "; zorvane " + kToolVersion + "; started " +
                      iso_utc_ms(now_ms()) + (anonymize ? "; serial numbers replaced" : ""));
    if (!trace->m_error.empty()) {
        error = trace->m_error;
        return nullptr;
    }
    return trace;
}

void TraceFile::frame(const std::string& port, WireDirection direction,
                      std::span<const uint8_t> bytes) {
    const int64_t time = now_ms();
    std::lock_guard lock(m_mutex);
    if (direction == WireDirection::Tx) {
        // The request is the last frame of what was written (a wake-up of
        // zeros may come before it).
        uint8_t code = 0;
        for (size_t i = 0; i + 2 < bytes.size(); ++i) {
            if (bytes[i] == kFrameStart) {
                code = bytes[i + 1];
            }
        }
        m_last_request[port] = code;
        write_line(trace_line_text(time, port, "tx", bytes));
        return;
    }
    if (m_anonymize && m_last_request[port] == cmd::kSerialNumber) {
        std::vector<uint8_t> hidden(bytes.begin(), bytes.end());
        hide_serial(hidden);
        write_line(trace_line_text(time, port, "rx", hidden));
        return;
    }
    write_line(trace_line_text(time, port, "rx", bytes));
}

void TraceFile::event(const std::string& port, std::string_view what) {
    const int64_t time = now_ms();
    std::lock_guard lock(m_mutex);
    write_line(trace_line_text(time, port, what));
}

std::string TraceFile::write_error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void TraceFile::write_line(const std::string& line) {
    if (m_file == nullptr || !m_error.empty()) {
        return;
    }
    if (std::fputs((line + "\n").c_str(), m_file) < 0 || std::fflush(m_file) != 0) {
        m_error = m_path + ": " + std::strerror(errno);
    }
}

// A serial-number reply carries the number from byte 2, up to ten bytes,
// zero-filled; FF there means none. A reply of another form could still hold
// the number: everything between its first two bytes and its end byte goes.
void TraceFile::hide_serial(std::vector<uint8_t>& reply) {
    const int count = static_cast<int>(reply.size());
    if (!serial_reply_valid(reply.data(), count)) {
        for (size_t i = 2; i + 1 < reply.size(); ++i) {
            reply[i] = 0;
        }
        return;
    }
    if (reply[2] == 0xFF) {
        return;
    }
    const std::string serial = decode_serial_number(reply.data());
    auto [it, added] = m_stand_ins.try_emplace(serial, "");
    if (added) {
        it->second = "ANON" + std::to_string(m_stand_ins.size());
    }
    for (size_t i = 0; i < 10; ++i) {
        reply[2 + i] = i < it->second.size() ? static_cast<uint8_t>(it->second[i]) : 0;
    }
}

}  // namespace zorvane
