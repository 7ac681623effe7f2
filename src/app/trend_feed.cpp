#include "app/trend_feed.h"

#include <QFile>
#include <algorithm>
#include <cmath>

namespace zorvane {

namespace {

constexpr TrendSeries kTrendSeries[] = {
    {"out_voltage", "Напряжение", TrendChart::Volts},
    {"bat_voltage", "Напряжение батарей", TrendChart::BatteryVolts},
    {"out_current", "Ток", TrendChart::Amperes},
    {"out_power", "Мощность", TrendChart::Power},
    {"temperatures_0", "Правый нижний внешний радиатор", TrendChart::Degrees},
    {"temperatures_1", "Правый верхний внешний радиатор", TrendChart::Degrees},
    {"temperatures_2", "Правый внутренний радиатор", TrendChart::Degrees},
    {"temperatures_3", "Правый трансформатор", TrendChart::Degrees},
    {"temperatures_4", "Левый верхний внешний радиатор", TrendChart::Degrees},
    {"temperatures_5", "Левый трансформатор", TrendChart::Degrees},
    {"temperatures_6", "Левый внутренний радиатор", TrendChart::Degrees},
    {"temperatures_7", "Левый нижний внешний радиатор", TrendChart::Degrees},
    {"case_temperature", "Внутри корпуса", TrendChart::Degrees},
    {"bat_temperature", "Батареи", TrendChart::Degrees},
};

bool valid_family(int family) {
    return family == 1 || family == 2;
}

}  // namespace

std::span<const TrendSeries> trend_series() {
    return kTrendSeries;
}

TrendFeed::TrendFeed(QObject* parent) : QObject(parent) {
    for (int family : {1, 2}) {
        m_columns[family] = record_columns(family);
        for (const TrendSeries& series : kTrendSeries) {
            int found = -1;
            for (size_t c = 0; c < m_columns[family].size(); ++c) {
                if (m_columns[family][c].name == series.column) {
                    found = static_cast<int>(c);
                }
            }
            m_series_columns[family].push_back(found);
        }
    }
}

void TrendFeed::on_pass(const DeviceState& state) {
    const int family = state.g_device_kind.load();
    if (!valid_family(family)) {
        return;
    }
    Sample sample = take_sample(m_columns[family], state, wall_clock_ms(),
                                state.g_device_answering.load() != 0);
    std::lock_guard lock(m_mutex);
    // A window that has stopped taking passes (it never does for long)
    // must not make the worker's memory grow without end.
    if (m_inbox.size() < kInboxLimit) {
        m_inbox.push_back(std::move(sample));
    }
}

void TrendFeed::drain() {
    std::vector<Sample> samples;
    {
        std::lock_guard lock(m_mutex);
        samples.swap(m_inbox);
    }
    std::vector<int> touched;
    for (const Sample& sample : samples) {
        if (m_recorder.is_open()) {
            const int64_t rows = m_recorder.rows();
            // Another device's passes are a stretch without readings of the
            // recorded one: a gap, as for an outage.
            const bool ok = sample.port == m_recording_port ? m_recorder.record(sample)
                                                            : m_recorder.link_lost(sample.time_ms);
            if (!ok) {
                emit recording_changed(
                    tr("Запись в файл %1 прервана: %2")
                        .arg(m_recording_path, QString::fromStdString(m_recorder.error())));
            } else if (m_recorder.rows() != rows) {
                emit recording_changed({});
            }
        }
        if (!sample.current || !valid_family(sample.family)) {
            continue;
        }
        const std::vector<int>& columns = m_series_columns[sample.family];
        std::vector<float> values(columns.size(), NAN);
        for (size_t s = 0; s < columns.size(); ++s) {
            if (columns[s] >= 0) {
                values[s] = static_cast<float>(sample.values[columns[s]]);
            }
        }
        history_for(sample.port).append(sample.time_ms, values);
        if (std::find(touched.begin(), touched.end(), sample.port) == touched.end()) {
            touched.push_back(sample.port);
        }
    }
    for (int port : touched) {
        emit passes_arrived(port);
    }
}

const TrendHistory* TrendFeed::history(int port) const {
    const auto it = m_histories.find(port);
    return it == m_histories.end() ? nullptr : &it->second;
}

TrendHistory& TrendFeed::history_for(int port) {
    return m_histories.try_emplace(port, std::size(kTrendSeries)).first->second;
}

QString TrendFeed::start_recording(const QString& path, int port, int family) {
    stop_recording();
    if (!valid_family(family)) {
        return tr("Нет устройства, которое можно записывать.");
    }
    const std::string error =
        m_recorder.open(QFile::encodeName(path).toStdString(), m_columns[family]);
    if (!error.empty()) {
        // The recorder tells the technician in the command line's words; the
        // window says it in its own and keeps the detail.
        return (m_recorder.refused_other_header()
                    ? tr("Файл %1 содержит запись с другими столбцами. Выберите другой файл.")
                    : tr("Не удалось открыть файл %1 для записи."))
                   .arg(path) +
               QStringLiteral("\n\n") + QString::fromStdString(error);
    }
    m_recording_path = path;
    m_recording_port = port;
    emit recording_changed({});
    return {};
}

void TrendFeed::stop_recording() {
    if (!m_recorder.is_open()) {
        return;
    }
    m_recorder.close();
    emit recording_changed({});
}

}  // namespace zorvane
