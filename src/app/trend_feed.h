// What the trend window and the window's recording are fed with: the
// completed passes of the worker, handed over to the window's thread. Each
// device (by its port) keeps its own history while the program runs, whether
// or not the trend window is open.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "record/csv_recorder.h"
#include "record/record_columns.h"
#include "record/trend_history.h"

namespace zorvane {

// The readings the charts show, walked from the device registry: every
// value the device measures (not a setting) of a voltage, a current, a power
// or a temperature, an array element by element. Each reading has a chart of
// its own, except the temperatures, which share one.
struct TrendSeries {
    std::string column;  // the recording column it is taken from
    QString label;
    size_t chart;     // index into trend_charts()
    bool kx = false;  // the families that have it
    bool qm = false;
};
struct TrendChartInfo {
    QString title;
    QString unit;
    // A voltage, a current or a power is never below zero: the axis starts at
    // zero at the lowest (a temperature may well be below).
    bool never_negative = false;
};
const std::vector<TrendSeries>& trend_series();
const std::vector<TrendChartInfo>& trend_charts();
// The index of the series taken from `column`, or -1.
int trend_series_index(std::string_view column);

class TrendFeed : public QObject {
    Q_OBJECT
  public:
    explicit TrendFeed(QObject* parent = nullptr);

    // On the worker's thread, at the end of a pass: a copy of what it read,
    // and nothing more (no transaction, no wait for the window).
    void on_pass(const DeviceState& state);
    // On the window's thread (the display tick): the passes since the last
    // call go into the histories and the recording.
    void drain();

    // Null until the device on that port has completed a pass.
    const TrendHistory* history(int port) const;
    // The same, made (empty) when there is none yet: how a benchmark brings
    // a day of history.
    TrendHistory& history_for(int port);

    // Starts recording the device on `port` into `path` (continued when it
    // holds the same columns). Empty on success, else the reason, in the
    // window's language.
    QString start_recording(const QString& path, int port, int family);
    void stop_recording();
    bool recording() const { return m_recorder.is_open(); }
    int64_t recorded_rows() const { return m_recorder.rows(); }
    const QString& recording_path() const { return m_recording_path; }
    int recording_port() const { return m_recording_port; }

  signals:
    // New points for the device on `port`.
    void passes_arrived(int port);
    // Started, stopped, a row written or the file failed (then `error` says why).
    void recording_changed(const QString& error);

  private:
    static constexpr size_t kInboxLimit = 10000;

    std::array<std::vector<RecordColumn>, 3> m_columns;  // by family
    std::array<std::vector<int>, 3> m_series_columns;    // column of each trend series
    std::mutex m_mutex;
    std::vector<Sample> m_inbox;  // guarded by m_mutex
    std::map<int, TrendHistory> m_histories;
    CsvRecorder m_recorder;
    QString m_recording_path;
    int m_recording_port = 0;
};

}  // namespace zorvane
