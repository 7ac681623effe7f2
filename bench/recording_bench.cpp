// Figures of the recording and the trend charts, against a simulated KX-24
// at the real line rate in a process of its own (so the processor time
// measured is the tool's alone):
// - `zorvane-cli log` polling it: processor share and rows a second;
// - the memory that 24 hours of one device's history take, at one point per
//   pass at the rate just measured;
// - the window polling it without the trend window, then with the trend
//   window open on those 24 hours (span 24 h, then 5 min): processor share,
//   and the time of one redraw at 24 h.
//
//   bench_recording [--seconds S]     (default 30 a phase)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/korvell_app.h"
#include "app/korvell_dlg.h"
#include "app/trend_feed.h"
#include "app/trend_window.h"
#include "box_answerer.h"
#include "proc_status.h"

namespace {

using Clock = std::chrono::steady_clock;
using zorvane::bench::resident_kib;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpu_seconds(const rusage& usage) {
    auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return secs(usage.ru_utime) + secs(usage.ru_stime);
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpu_seconds(usage);
}

pid_t spawn(const std::vector<std::string>& args, bool quiet) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (quiet && std::freopen("/dev/null", "w", stdout) == nullptr)
            _exit(127);
        if (quiet && std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(127);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Rows a second of `zorvane-cli log` over `seconds`, and its processor share.
void bench_log(const std::string& dir, double seconds, double& rows_per_second) {
    const std::string file = dir + "/bench.csv";
    const auto start = Clock::now();
    const pid_t pid = spawn({ZORVANE_CLI_PROGRAM, "log", file}, true);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall = seconds_since(start);
    long lines = 0;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) ++lines;
    rows_per_second = static_cast<double>(lines - 1) / wall;
    std::printf("log: rows                    %8ld in %.1f s (%.2f a second)\n", lines - 1, wall,
                rows_per_second);
    std::printf("log: processor               %8.2f %% of one core\n",
                100.0 * cpu_seconds(usage) / wall);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 30;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[++i]);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const std::string dir =
        (std::filesystem::temp_directory_path() / ("zorvane-bench-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(dir);
    setenv("ZORVANE_PORT_DIR", dir.c_str(), 1);
    const pid_t sim =
        spawn({ZORVANE_SIM_PROGRAM, "--dir", dir, "--pace", "--device", "COM1=KX-24:1001"}, true);
    for (int turn = 0; turn < 500 && !std::filesystem::exists(dir + "/COM1"); ++turn)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    double rows_per_second = 0;
    bench_log(dir, seconds, rows_per_second);

    QApplication app(argc, argv);
    zorvane::CKorvellApp::prepare(app);
    zorvane::bench::BoxAnswerer answer;  // the search announcement

    zorvane::CKorvellDlg dialog;
    if (!dialog.OnInitDialog())
        return 1;
    dialog.show();

    // A day of the device at the pass rate measured above.
    const long before_history = resident_kib();
    zorvane::TrendHistory& history = dialog.trend_feed()->history_for(1);
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const double pass_ms = 1000.0 / std::max(rows_per_second, 0.1);
    std::vector<float> values(zorvane::trend_series().size());
    for (double t = static_cast<double>(now) - 24.0 * 3600 * 1000; t < static_cast<double>(now);
         t += pass_ms) {
        for (size_t s = 0; s < values.size(); ++s)
            values[s] = static_cast<float>(25 + 5 * std::sin(t / 1e6 + static_cast<double>(s)));
        history.append(static_cast<int64_t>(t), values);
    }
    const long after_history = resident_kib();
    {
        const auto start = Clock::now();
        size_t buckets = 0;
        for (size_t s = 0; s < history.series(); ++s)
            buckets += history.reduce(s, history.first_time(), now, 600).size();
        std::printf(
            "24 h history: reduction      %8.1f ms (every series, 600 columns, %zu buckets)\n",
            1000 * seconds_since(start), buckets);
    }
    std::printf("24 h history: points         %8zu (one per pass)\n", history.size());
    std::printf("24 h history: held           %8.1f MB\n", history.memory_bytes() / 1e6);
    std::printf("24 h history: resident more  %8.1f MB\n",
                (after_history - before_history) / 1024.0);

    double cpu_mark = 0;
    Clock::time_point wall_mark;
    auto mark = [&] {
        cpu_mark = own_cpu_seconds();
        wall_mark = Clock::now();
    };
    auto report = [&](const char* what) {
        std::printf("window: %-21s %8.2f %% of one core\n", what,
                    100.0 * (own_cpu_seconds() - cpu_mark) / seconds_since(wall_mark));
    };
    const int phase_ms = static_cast<int>(seconds * 1000);
    QTimer::singleShot(2000, [&] { mark(); });
    QTimer::singleShot(2000 + phase_ms, [&] {
        report("without charts");
        dialog.OnTrends();
        zorvane::TrendWindow& trends = *dialog.trend_window();
        trends.set_span(zorvane::TrendWindow::Hours24);
        const auto start = Clock::now();
        trends.redraw();
        std::printf("window: one redraw at 24 h   %8.1f ms\n", 1000 * seconds_since(start));
        mark();
    });
    QTimer::singleShot(2000 + 2 * phase_ms, [&] {
        report("charts, 24 h");
        dialog.trend_window()->set_span(zorvane::TrendWindow::Minutes5);
        mark();
    });
    QTimer::singleShot(2000 + 3 * phase_ms, [&] {
        report("charts, 5 min");
        dialog.done(0);
    });
    dialog.exec();

    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::filesystem::remove_all(dir);
    return 0;
}
