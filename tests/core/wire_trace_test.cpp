// Trace files: what the writer writes the parser reads back; a line that does
// not parse is named; serial numbers are hidden when asked; a file that is
// not a trace is never written to. And the captured unit served from a
// trace: replies by request in recorded order, writes remembered.
#include "record/wire_trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/frame.h"
#include "sim/replay.h"

namespace zorvane {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TraceFileTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::remove(path); }
    void TearDown() override { fs::remove(path); }
    std::shared_ptr<TraceFile> open(bool anonymize = false) {
        std::string error;
        auto trace = TraceFile::open(path.string(), anonymize, error);
        EXPECT_TRUE(trace) << error;
        return trace;
    }
    fs::path path =
        fs::temp_directory_path() / ("zorvane-trace-" + std::to_string(::getpid()) + ".trace");
};

TEST_F(TraceFileTest, ReadsBackWhatItWrote) {
    auto trace = open();
    const std::string port = "/dev/serial/by-id/usb-My Adapter%1";
    trace->event(port, "open");
    trace->frame(port, WireDirection::Tx, Bytes{0xBE, 0x41, 0xAA});
    trace->frame(port, WireDirection::Rx, Bytes{0xBE, 0xC1, 0x08, 0xFC, 0xAA});
    trace->frame(port, WireDirection::Tx, Bytes{0xBE, 0x53, 0xAA});
    trace->frame(port, WireDirection::Rx, Bytes{});  // nothing came
    trace->event("COM9", "open-failed busy: Device or resource busy");
    trace->event(port, "failure");
    trace->event(port, "close");
    trace.reset();

    const std::string text = read_all(path);
    EXPECT_TRUE(text.starts_with("# zorvane wire trace 1; zorvane ")) << text;
    EXPECT_NE(text.find(" tx BE 41 AA\n"), std::string::npos) << text;
    const ParsedTrace parsed = read_trace_file(path.string());
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.lines.size(), 8u);
    const TraceLine& rx = parsed.lines[2];
    EXPECT_EQ(rx.line, 4);
    EXPECT_EQ(rx.port, port);
    EXPECT_EQ(rx.entry, TraceEntry::Rx);
    EXPECT_EQ(rx.bytes, (Bytes{0xBE, 0xC1, 0x08, 0xFC, 0xAA}));
    EXPECT_GT(rx.time_ms, 1'700'000'000'000);
    EXPECT_TRUE(parsed.lines[4].bytes.empty());
    EXPECT_EQ(parsed.lines[5].entry, TraceEntry::OpenFailed);
    EXPECT_EQ(parsed.lines[5].detail, "busy: Device or resource busy");
    EXPECT_EQ(parsed.lines[7].entry, TraceEntry::Close);
}

TEST(TraceParse, RefusesALineThatDoesNotParseNamingIt) {
    const std::string good = "# zorvane wire trace 1\n\n2026-12-11T09:30:00.415Z COM3 tx BE41AA\n";
    for (const char* bad : {
             "2026-12-11 09:30:00 COM3 tx BE 41 AA",    // not the time form
             "2026-13-11T09:30:00.415Z COM3 tx BE",     // no such month
             "2026-12-11T09:30:00.415Z COM3",           // no entry
             "2026-12-11T09:30:00.415Z COM3 sent BE",   // unknown entry
             "2026-12-11T09:30:00.415Z COM3 rx BE 4",   // half a byte
             "2026-12-11T09:30:00.415Z COM3 rx BE XY",  // not hex
             "2026-12-11T09:30:00.415Z COM3 tx",        // a request of nothing
             "2026-12-11T09:30:00.415Z COM3 close now",
         }) {
        SCOPED_TRACE(bad);
        const ParsedTrace parsed = parse_trace(good + bad + "\n" + good);
        EXPECT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.error_line, 4);
        EXPECT_TRUE(parsed.error.starts_with("line 4: ")) << parsed.error;
        EXPECT_TRUE(parsed.lines.empty());
    }
    EXPECT_TRUE(parse_trace(good + "\r\n" + good).ok());
}

TEST_F(TraceFileTest, AnonymizeReplacesEachSerialNumberByOneStandIn) {
    auto trace = open(true);
    const Bytes ask{0xBE, 0x56, 0xAA};
    const Bytes serial_12345{0xBE, 0xD6, '1', '2', '3', '4', '5', 0, 0, 0, 0, 0, 0xAA};
    const Bytes serial_77{0xBE, 0xD6, '7', '7', 0, 0, 0, 0, 0, 0, 0, 0, 0xAA};
    Bytes none(13, 0xFF);
    none[0] = 0xBE;
    none[1] = 0xD6;
    none[12] = 0xAA;
    const Bytes short_reply{0xBE, 0xD6, '9', '8', '7', 0xAA};
    // Another reply with the same digits is no serial number.
    const Bytes status{0xBE, 0xCA, '1', '2', 0xAA};
    for (const auto& [port, reply] :
         std::vector<std::pair<std::string, Bytes>>{{"COM3", serial_12345},
                                                    {"COM5", serial_77},
                                                    {"COM4", serial_12345},
                                                    {"COM6", none},
                                                    {"COM7", short_reply}}) {
        trace->frame(port, WireDirection::Tx, ask);
        trace->frame(port, WireDirection::Rx, reply);
    }
    trace->frame("COM3", WireDirection::Tx, Bytes{0xBE, 0x4A, 0xAA});
    trace->frame("COM3", WireDirection::Rx, status);
    trace.reset();

    const ParsedTrace parsed = read_trace_file(path.string());
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.lines.size(), 12u);
    EXPECT_EQ(decode_serial_number(parsed.lines[1].bytes.data()), "ANON1");
    EXPECT_EQ(decode_serial_number(parsed.lines[3].bytes.data()), "ANON2");
    EXPECT_EQ(decode_serial_number(parsed.lines[5].bytes.data()), "ANON1");
    EXPECT_EQ(parsed.lines[7].bytes, none);
    EXPECT_EQ(parsed.lines[9].bytes, (Bytes{0xBE, 0xD6, 0, 0, 0, 0xAA}));
    EXPECT_EQ(parsed.lines[11].bytes, status);
    EXPECT_NE(read_all(path).find("serial numbers replaced"), std::string::npos);
}

TEST_F(TraceFileTest, ContinuesATraceAndRefusesAnythingElse) {
    open()->event("COM3", "open");
    open()->event("COM3", "close");
    const ParsedTrace parsed = read_trace_file(path.string());
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.lines.size(), 2u);  // both runs kept
    EXPECT_EQ(parsed.lines[1].line, 4);  // after the second run's header

    std::ofstream(path, std::ios::trunc) << "time,elapsed_s,link\n";
    std::string error;
    EXPECT_FALSE(TraceFile::open(path.string(), false, error));
    EXPECT_NE(error.find("something other than a trace"), std::string::npos) << error;
    EXPECT_EQ(read_all(path), "time,elapsed_s,link\n");

    for (const char* other : {"/dev/null", "/tmp"}) {
        EXPECT_FALSE(TraceFile::open(other, false, error)) << other;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
}

// A trace of one port, from its lines "tx ..." and "rx ...".
ParsedTrace trace_of(const std::string& port, const std::vector<std::string>& exchanges) {
    std::string text = "# zorvane wire trace 1\n";
    for (const std::string& e : exchanges) {
        text += "2026-12-11T09:30:00.000Z " + port + " " + e + "\n";
    }
    ParsedTrace parsed = parse_trace(text);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    return parsed;
}

TEST(Replay, AnswersInRecordedOrderThenRepeatsTheLast) {
    sim::ReplayUnit unit(trace_of("COM3", {"tx 00 00 00 BE 45 AA", "rx BE C5 01 08 AA",
                                           "tx BE 45 AA", "rx", "tx BE 45 AA", "rx BE C5 01 09 AA",
                                           "tx BE 4A AA", "close", "rx BE CA 04 00 AA"}),
                         "COM3");
    const Bytes battery{0xBE, 0x45, 0xAA};
    EXPECT_EQ(unit.answer(battery), (Bytes{0xBE, 0xC5, 0x01, 0x08, 0xAA}));
    EXPECT_EQ(unit.answer(battery), Bytes{});  // it did not answer then
    EXPECT_EQ(unit.answer(battery), (Bytes{0xBE, 0xC5, 0x01, 0x09, 0xAA}));
    EXPECT_EQ(unit.answer(battery), (Bytes{0xBE, 0xC5, 0x01, 0x09, 0xAA}));
    // The status was asked but its answer came after the port closed.
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x4A, 0xAA}), Bytes{});
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x41, 0xAA}), Bytes{});  // never asked
}

TEST(Replay, WritesAreRememberedInLaterReplies) {
    // KX: UbatLow is word 0 of 0x4E (tenths of a volt), written with 0x4D;
    // the generation bit is bit 2 of the first status byte.
    sim::ReplayUnit unit(
        trace_of("COM5", {"tx BE 4E AA", "rx BE CE 01 08 AA", "tx BE 4D 01 09 AA",
                          "rx BE CD 01 09 00 AA", "tx BE 4A AA", "rx BE CA 04 00 AA"}),
        "COM5");
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x4D, 0x01, 0x09, 0xAA}),
              (Bytes{0xBE, 0xCD, 0x01, 0x09, 0x00, 0xAA}));  // as recorded, odd as it was
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x4E, 0xAA}), (Bytes{0xBE, 0xCE, 0x01, 0x09, 0xAA}));
    // A write the trace never saw is acknowledged as a unit does.
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x4D, 0x00, 0xFA, 0xAA}),
              (Bytes{0xBE, 0xCD, 0x00, 0xFA, 0xAA}));
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x4E, 0xAA}), (Bytes{0xBE, 0xCE, 0x00, 0xFA, 0xAA}));

    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x49, 0xAA}), (Bytes{0xBE, 0xC9, 0xAA}));
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x4A, 0xAA}), (Bytes{0xBE, 0xCA, 0x00, 0x00, 0xAA}));
    unit.answer(Bytes{0xBE, 0x48, 0xAA});
    EXPECT_EQ(unit.answer(Bytes{0xBE, 0x4A, 0xAA}), (Bytes{0xBE, 0xCA, 0x04, 0x00, 0xAA}));
}

TEST(Replay, PicksThePortThatAnswered) {
    const ParsedTrace parsed = parse_trace(
        "2026-12-11T09:30:00.000Z /d/COM1 tx BE 45 AA\n"
        "2026-12-11T09:30:00.000Z /d/COM1 rx\n"
        "2026-12-11T09:30:00.000Z /d/COM13 tx BE 45 AA\n"
        "2026-12-11T09:30:00.000Z /d/COM13 rx BE C5 01 08 AA\n");
    std::string error;
    EXPECT_EQ(sim::replay_port_of(parsed, 4, error), "/d/COM13");  // the only one that answered
    const ParsedTrace two = parse_trace(
        "2026-12-11T09:30:00.000Z /d/COM3 tx BE 45 AA\n"
        "2026-12-11T09:30:00.000Z /d/COM3 rx BE C5 01 08 AA\n"
        "2026-12-11T09:30:00.000Z /d/COM13 tx BE 45 AA\n"
        "2026-12-11T09:30:00.000Z /d/COM13 rx BE C5 01 08 AA\n");
    EXPECT_EQ(sim::replay_port_of(two, 3, error), "/d/COM3");
    EXPECT_EQ(sim::replay_port_of(two, 13, error), "/d/COM13");
    EXPECT_EQ(sim::replay_port_of(two, 1, error), "");
    EXPECT_NE(error.find("/d/COM3 /d/COM13"), std::string::npos) << error;
}

}  // namespace
}  // namespace zorvane
