// Trace files: the frames a port sent and received, one line each, as the
// wire tap reports them, so that support gets the actual bytes of a site and
// the simulator can serve the captured unit again.
//
//   # zorvane wire trace 1; zorvane 0.9.1; started 2026-12-11T09:30:00.000Z
//   2026-12-11T09:30:00.412Z /dev/ttyUSB0 open
//   2026-12-11T09:30:00.415Z /dev/ttyUSB0 tx BE 41 AA
//   2026-12-11T09:30:00.418Z /dev/ttyUSB0 rx BE C1 08 FC 01 B3 03 E8 02 10 AA
//   2026-12-11T09:30:01.020Z /dev/ttyUSB0 tx BE 53 AA
//   2026-12-11T09:30:01.572Z /dev/ttyUSB0 rx
//   2026-12-11T09:30:02.000Z /dev/ttyUSB0 failure
//   2026-12-11T09:30:02.001Z /dev/ttyUSB0 close
//   time (UTC, ms)           port         entry and bytes
//
// An rx line holds every byte one transaction read (none: nothing came
// before the time-out); open-failed names why a port would not open.
// A port name keeps its characters, a space written %20 and a % as %25.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/wire_tap.h"

namespace zorvane {

inline constexpr const char* kTraceHeaderStart = "# zorvane wire trace 1";

enum class TraceEntry : uint8_t { Tx, Rx, Open, OpenFailed, Failure, Close };

struct TraceLine {
    int line = 0;  // 1 up, in the file
    int64_t time_ms = 0;
    std::string port;
    TraceEntry entry = TraceEntry::Tx;
    std::vector<uint8_t> bytes;  // tx and rx
    std::string detail;          // open-failed: why
};

struct ParsedTrace {
    std::vector<TraceLine> lines;  // comments and blank lines left out
    int error_line = 0;            // 0 when the whole text parsed
    std::string error;             // "line 7: bad byte 'G1'"
    bool ok() const { return error_line == 0; }
};

// Every line of `text`; the first that does not parse stops it and is
// named. The header and other lines starting with '#' are comments.
ParsedTrace parse_trace(std::string_view text);
// The same for a file; a file that cannot be read is an error on line 0
// (error set, error_line -1).
ParsedTrace read_trace_file(const std::string& path);

// One line of the file, without its line end.
std::string trace_line_text(int64_t time_ms, const std::string& port, std::string_view entry,
                            std::span<const uint8_t> bytes = {});

// A trace file being written: the listener of the wire tap. Every line is
// flushed as it is written. With `anonymize`, the serial number in each
// serial-number reply is replaced by ANON1, ANON2 … (one per distinct
// number), so that a trace can leave the site without naming the units.
class TraceFile : public WireListener {
  public:
    ~TraceFile() override;
    // Starts a trace in `path`: a new file, or a trace file that is
    // continued (a header line marks the new run). Anything else (a file
    // that holds something other than a trace, a device, a directory) is
    // refused and left as it was. Null and `error` set when refused.
    static std::shared_ptr<TraceFile> open(const std::string& path, bool anonymize,
                                           std::string& error);

    void frame(const std::string& port, WireDirection direction,
               std::span<const uint8_t> bytes) override;
    void event(const std::string& port, std::string_view what) override;

    const std::string& path() const { return m_path; }
    // The first write that failed ("disk full"), empty while all went well.
    std::string write_error() const;

  private:
    TraceFile() = default;
    void write_line(const std::string& line);
    void hide_serial(std::vector<uint8_t>& reply);

    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_anonymize = false;
    std::map<std::string, uint8_t> m_last_request;   // port -> code of its last request
    std::map<std::string, std::string> m_stand_ins;  // serial -> ANONn
    std::string m_error;
};

}  // namespace zorvane
