// The trace parser on any text: it never fails but with a line number inside
// the text; a trace it accepts reads back the same when written out again;
// and the captured unit made from it answers any request without harm, never
// with more than a frame buffer can hold unless the trace itself did.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "record/wire_trace.h"
#include "sim/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zorvane;
    constexpr std::string_view kNames[] = {"tx", "rx", "open", "open-failed", "failure", "close"};
    // The writer never puts a control character in a port name or in the
    // reason of a failed open (the system's message).
    const auto plain = [](const std::string& port) {
        return std::none_of(port.begin(), port.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    };
    FuzzedDataProvider input(data, size);
    const std::string text = input.ConsumeRandomLengthString(4096);
    const ParsedTrace parsed = parse_trace(text);
    if (!parsed.ok()) {
        FUZZ_CHECK(parsed.error_line >= 1);
        FUZZ_CHECK(parsed.error.starts_with("line " + std::to_string(parsed.error_line) + ": "));
        FUZZ_CHECK(parsed.lines.empty());
        return 0;
    }
    std::string again;
    for (const TraceLine& line : parsed.lines) {
        if (!plain(line.port) || !plain(line.detail)) {
            return 0;
        }
        std::string entry(kNames[static_cast<size_t>(line.entry)]);
        if (line.entry == TraceEntry::OpenFailed && !line.detail.empty()) {
            entry += " " + line.detail;
        }
        again += trace_line_text(line.time_ms, line.port, entry, line.bytes) + "\n";
    }
    const ParsedTrace reread = parse_trace(again);
    FUZZ_CHECK(reread.ok());
    FUZZ_CHECK(reread.lines.size() == parsed.lines.size());
    size_t longest = 0;
    for (size_t i = 0; i < parsed.lines.size(); ++i) {
        const TraceLine& a = parsed.lines[i];
        const TraceLine& b = reread.lines[i];
        FUZZ_CHECK(a.time_ms == b.time_ms && a.port == b.port && a.entry == b.entry &&
                   a.bytes == b.bytes && a.detail == b.detail);
        longest = std::max(longest, a.bytes.size());
    }
    if (parsed.lines.empty()) {
        return 0;
    }
    sim::ReplayUnit unit(parsed, parsed.lines.front().port);
    while (input.remaining_bytes() > 0) {
        std::vector<uint8_t> request =
            input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(3, 5));
        if (request.size() < 3) {
            break;
        }
        request.front() = 0xBE;
        request.back() = 0xAA;
        FUZZ_CHECK(unit.answer(request).size() <= std::max<size_t>(longest, 5));
    }
    return 0;
}
