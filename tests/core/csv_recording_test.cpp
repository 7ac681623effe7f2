// The CSV recorder on files of its own, and the reduction of a trend series
// to what a chart draws.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "record/csv_recorder.h"
#include "record/trend_history.h"

namespace zorvane {
namespace {

std::vector<RecordColumn> two_columns(const char* second = "b") {
    return {{"a", [](const DeviceState& s) { return double(s.out_voltage.load()); }, true},
            {second, [](const DeviceState& s) { return s.temperatures[0].load(); }}};
}

Sample sample(int64_t t, double a, double b) {
    return Sample{t, 3, 1, true, {a, b}};
}

std::string read_all(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CsvFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("zorvane-csv-" + std::to_string(::getpid()) + ".csv");
        std::filesystem::remove(path);
    }
    void TearDown() override { std::filesystem::remove(path); }
    std::filesystem::path path;
};

constexpr int64_t kT0 = 1796902136123;  // 2026-12-10T11:28:56.123Z

TEST_F(CsvFile, RowsGapAndAppendContinuesTheFile) {
    const auto columns = two_columns();
    {
        CsvRecorder recorder;
        ASSERT_EQ(recorder.open(path, columns), "");
        // 230.1 as a float is written as typed; an unknown value is empty.
        EXPECT_TRUE(recorder.record(sample(kT0, 230.1f, NAN)));
        // The outage is marked once, however many passes fail.
        EXPECT_TRUE(recorder.link_lost(kT0 + 1000));
        EXPECT_TRUE(recorder.record(Sample{kT0 + 2000, 3, 1, false, {}}));
        EXPECT_TRUE(recorder.record(sample(kT0 + 2500, 12.5, 24.983513379786814)));
        EXPECT_EQ(recorder.rows(), 2);
    }
    // A run killed in the middle of a row leaves it without its line end.
    std::ofstream(path, std::ios::app) << "2026-12-10T11:29";
    {
        CsvRecorder recorder;
        ASSERT_EQ(recorder.open(path, columns), "");
        EXPECT_TRUE(recorder.record(sample(kT0 + 10000, 1, 2)));
    }
    EXPECT_EQ(read_all(path),
              "time,elapsed_s,link,a,b\n"
              "2026-12-10T11:28:56.123Z,0.000,ok,230.1,\n"
              "2026-12-10T11:28:57.123Z,1.000,lost,,\n"
              "2026-12-10T11:28:58.623Z,2.500,ok,12.5,24.983513379786814\n"
              "2026-12-10T11:29\n"
              "2026-12-10T11:29:06.123Z,10.000,ok,1,2\n");
}

TEST_F(CsvFile, AnotherHeaderIsRefusedAndTheFileLeftAlone) {
    {
        CsvRecorder recorder;
        ASSERT_EQ(recorder.open(path, two_columns()), "");
        recorder.record(sample(kT0, 1, 2));
    }
    const std::string before = read_all(path);
    CsvRecorder recorder;
    const std::string error = recorder.open(path, two_columns("c"));
    EXPECT_NE(error.find("column 5 is 'b' in the file, 'c' in this recording"), std::string::npos)
        << error;
    EXPECT_FALSE(recorder.is_open());
    EXPECT_FALSE(recorder.record(sample(kT0 + 1000, 1, 2)));
    EXPECT_EQ(read_all(path), before);
}

TEST_F(CsvFile, AtMostOneRowPerInterval) {
    CsvRecorder recorder;
    ASSERT_EQ(recorder.open(path, two_columns(), 1000), "");
    for (int64_t t : {0, 400, 999, 1000, 1700, 2100, 2999}) {
        recorder.record(sample(kT0 + t, double(t), 0));
    }
    EXPECT_EQ(recorder.rows(), 3);
    const std::string text = read_all(path);
    for (const char* row : {",0.000,ok,0,0\n", ",1.000,ok,1000,0\n", ",2.100,ok,2100,0\n"}) {
        EXPECT_NE(text.find(row), std::string::npos) << row << text;
    }
}

TEST(IsoTime, WrittenAndReadBackWithMilliseconds) {
    EXPECT_EQ(iso_utc_ms(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(iso_utc_ms(kT0), "2026-12-10T11:28:56.123Z");
    EXPECT_EQ(parse_iso_utc_ms("2026-12-10T11:28:56.123Z"), kT0);
    EXPECT_EQ(parse_iso_utc_ms("time"), -1);
}

TEST(TrendHistory, ReductionKeepsEachBucketsMinAndMaxInOrder) {
    TrendHistory history(2);
    // Ten points a bucket over 4 buckets of 100 ms; series 1 has no value at
    // all in bucket 2.
    for (int i = 0; i < 40; ++i) {
        const float a = static_cast<float>((i * 7) % 10) + static_cast<float>(i / 10) * 100;
        const float b = i / 10 == 2 ? NAN : static_cast<float>(i);
        const float values[] = {a, b};
        history.append(1000 + i * 10, values);
    }
    const auto a = history.reduce(0, 1000, 1400, 4);
    ASSERT_EQ(a.size(), 4u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(a[k].min, 0 + k * 100.0f);
        EXPECT_EQ(a[k].max, 9 + k * 100.0f);
        EXPECT_EQ(a[k].min_time, 1000 + k * 100);       // i*7 % 10 == 0 at i = 10k
        EXPECT_EQ(a[k].max_time, 1000 + k * 100 + 70);  // == 9 at i = 10k + 7
    }
    const auto b = history.reduce(1, 1000, 1400, 4);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[2].min, 30.0f);
    EXPECT_EQ(b[2].max, 39.0f);
    // A window that starts inside the history skips what came before (300
    // at 1300): 305 302 309 306 303 from 1350 on.
    const auto tail = history.reduce(0, 1350, 1400, 1);
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(tail[0].min, 302.0f);
    EXPECT_EQ(tail[0].min_time, 1360);
}

TEST(TrendHistory, KeepsItsSpanAndNeverGoesBackInTime) {
    TrendHistory history(1, 1000);
    const float v[] = {1};
    for (int64_t t = 0; t <= 3000; t += 100) {
        history.append(t, v);
    }
    EXPECT_EQ(history.first_time(), 2000);
    EXPECT_EQ(history.size(), 11u);
    history.append(2500, v);
    EXPECT_EQ(history.last_time(), 3000);
    EXPECT_EQ(history.size(), 11u);
}

}  // namespace
}  // namespace zorvane
