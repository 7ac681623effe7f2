// A recording of completed passes as CSV, one row each, flushed as it is
// written, so a run that is killed loses nothing but the pass in flight.
//
//   time,elapsed_s,link,out_voltage,…
//   2026-12-10T11:48:56.123Z,0.000,ok,230.1,…
//   2026-12-10T11:49:02.610Z,6.487,lost,,,…     <- the link went; no rows until it is back
//
// `time` is UTC with milliseconds, `elapsed_s` counts from the file's first
// row (an appended run continues the count), `link` is `ok` for a row of
// readings and `lost` for the one row that marks an outage. An unknown value
// is an empty cell.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "record/record_columns.h"

namespace zorvane {

class CsvRecorder {
  public:
    CsvRecorder() = default;
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    // Starts a recording into `path` ("-" for standard output) with these
    // columns. Only a regular file is taken. An existing file whose first
    // line is this recording's header is continued (with its line ends); any
    // other file is left alone and refused. At most one row per
    // `interval_ms` (0: one per pass). Returns an empty string on success,
    // otherwise what went wrong, for the user.
    std::string open(const std::string& path, std::span<const RecordColumn> columns,
                     int64_t interval_ms = 0);
    void close();
    bool is_open() const { return m_file != nullptr; }

    // A completed pass: a row of readings when one is due. A sample that is
    // not current marks the outage (once). False when the file could not be
    // written (the recording is then closed, and error() says why).
    bool record(const Sample& sample);
    // The link went (no pass could run): one `lost` row, once per outage.
    bool link_lost(int64_t time_ms);

    int64_t rows() const { return m_rows; }  // rows of readings written by this run
    const std::string& error() const { return m_error; }
    // The last open() failed because the file holds a recording of this
    // tool with other columns.
    bool refused_other_header() const { return m_refused; }

    // The header row (without the line end) for these columns.
    static std::string header(std::span<const RecordColumn> columns);

  private:
    bool write_row(int64_t time_ms, bool lost, const std::vector<double>* values);

    std::FILE* m_file = nullptr;
    bool m_owns_file = false;
    std::vector<bool> m_single;
    int64_t m_interval_ms = 0;
    int64_t m_first_ms = -1;  // time of the file's first row
    int64_t m_last_row_ms = -1;
    bool m_lost = false;
    int64_t m_rows = 0;
    std::string m_error;
    bool m_refused = false;
    const char* m_line_end = "\n";
};

// How much of an existing file is read to tell whether it is a recording to
// continue: far more than any header of ours plus its first row.
inline constexpr size_t kRecordingStartBytes = 64 * 1024;

// What the start of an existing file says about continuing it.
struct RecordingStart {
    enum class Kind {
        New,             // an empty file: the header goes first
        Continue,        // the first line is exactly this recording's header
        OtherRecording,  // a header of this tool with other columns
        NotARecording,   // anything else
    };
    Kind kind = Kind::New;
    bool crlf = false;      // its lines end with CR LF (a copy made on Windows)
    int64_t first_ms = -1;  // time of its first row, -1 when there is none
    std::string found;      // for a refusal: what the file holds, printable
};

// Reads the first bytes of a file (at most kRecordingStartBytes of it)
// against the header (without line end) of the recording to be continued.
RecordingStart read_recording_start(std::string_view start, std::string_view header);

// "2026-12-10T11:48:56.123Z"
std::string iso_utc_ms(int64_t time_ms);
// The reverse; -1 when the text is not such a time.
int64_t parse_iso_utc_ms(const std::string& text);

}  // namespace zorvane
