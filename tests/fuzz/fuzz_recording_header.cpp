// The reader of a recording's first bytes, which decides whether a file the
// user names is continued or refused. Any bytes: it never reads past them,
// continues only a file whose first line is exactly the header (LF or CR
// LF), and a refusal names what it found with no control character left to
// reach the terminal. Whatever follows a header line, the file is continued.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "record/csv_recorder.h"
#include "record/record_columns.h"

namespace zorvane::fuzz {
namespace {

bool has_control(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
}

void check(std::string_view start, const std::string& header) {
    const RecordingStart found = read_recording_start(start, header);
    using Kind = RecordingStart::Kind;
    FUZZ_CHECK((found.kind == Kind::New) == start.empty());
    const std::string_view first = start.substr(0, start.find('\n'));
    switch (found.kind) {
        case Kind::New:
            break;
        case Kind::Continue:
            FUZZ_CHECK(first == header || (found.crlf && first == header + "\r"));
            break;
        case Kind::OtherRecording:
        case Kind::NotARecording:
            FUZZ_CHECK(!found.found.empty());
            FUZZ_CHECK(!has_control(found.found));
            FUZZ_CHECK(first != header && first != header + "\r");
            break;
    }
}

}  // namespace
}  // namespace zorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zorvane;
    static const std::string headers[] = {CsvRecorder::header(record_columns(1)),
                                          CsvRecorder::header(record_columns(2))};
    if (size > kRecordingStartBytes)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string& header = headers[size % 2];
    fuzz::check(bytes, header);

    // The header with either line end, then anything: always continued.
    const bool crlf = size > 0 && (data[0] & 1) != 0;
    const std::string file =
        (header + (crlf ? "\r\n" : "\n") + bytes).substr(0, kRecordingStartBytes);
    const RecordingStart found = read_recording_start(file, header);
    FUZZ_CHECK(found.kind == RecordingStart::Kind::Continue);
    FUZZ_CHECK(found.crlf == crlf);
    return 0;
}
