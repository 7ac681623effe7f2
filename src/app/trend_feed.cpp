#include "app/trend_feed.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "state/variables.h"

namespace zorvane {

namespace {

// The window's captions of the charted readings (the registry's
// descriptions are the command line's); a reading without one is shown
// under its name.
struct Caption {
    const char* name;
    const char* text;
};
constexpr Caption kCaptions[] = {
    {"out_voltage", "Напряжение"},
    {"out_current", "Ток"},
    {"out_power", "Мощность"},
    {"bat_voltage", "Напряжение батарей"},
    {"case_temperature", "Внутри корпуса"},
    {"bat_temperature", "Батареи"},
    {"temperatures_0", "Правый нижний внешний радиатор"},
    {"temperatures_1", "Правый верхний внешний радиатор"},
    {"temperatures_2", "Правый внутренний радиатор"},
    {"temperatures_3", "Правый трансформатор"},
    {"temperatures_4", "Левый верхний внешний радиатор"},
    {"temperatures_5", "Левый трансформатор"},
    {"temperatures_6", "Левый внутренний радиатор"},
    {"temperatures_7", "Левый нижний внешний радиатор"},
};

QString caption_of(const std::string& name) {
    for (const Caption& caption : kCaptions) {
        if (name == caption.name) {
            return QString::fromUtf8(caption.text);
        }
    }
    return QString::fromStdString(name);
}

// The units as the window writes them.
QString unit_text(std::string_view unit) {
    if (unit == "V") {
        return QStringLiteral("B");
    }
    if (unit == "VA") {
        return QStringLiteral("BA");
    }
    if (unit == "°C") {
        return QString::fromUtf8("° C");
    }
    return QString::fromUtf8(unit.data(), static_cast<qsizetype>(unit.size()));
}

bool charted(Measure measure) {
    return measure == Measure::Voltage || measure == Measure::Current ||
           measure == Measure::ApparentPower || measure == Measure::Temperature;
}

struct SeriesTables {
    std::vector<TrendSeries> series;
    std::vector<TrendChartInfo> charts;
};

SeriesTables make_series() {
    SeriesTables t;
    size_t temperature_chart = SIZE_MAX;
    for (const Variable& v : variables()) {
        if (v.writable() || !charted(v.measure)) {
            continue;
        }
        size_t chart = temperature_chart;
        if (v.measure != Measure::Temperature || chart == SIZE_MAX) {
            chart = t.charts.size();
            t.charts.push_back({v.measure == Measure::Temperature ? QString::fromUtf8("Температура")
                                                                  : caption_of(v.name),
                                unit_text(v.unit), v.measure != Measure::Temperature});
            if (v.measure == Measure::Temperature) {
                temperature_chart = chart;
            }
        }
        const bool kx = has_family(v.families, Family::Kx);
        const bool qm = has_family(v.families, Family::Qm);
        const int elements = v.is_array() ? 8 : 1;
        for (int i = 0; i < elements; ++i) {
            const std::string column =
                v.is_array() ? std::string(v.name) + "_" + std::to_string(i) : std::string(v.name);
            t.series.push_back({column, caption_of(column), chart, kx, qm});
        }
    }
    return t;
}

const SeriesTables& series_tables() {
    static const SeriesTables tables = make_series();
    return tables;
}

bool valid_family(int family) {
    return family == 1 || family == 2;
}

}  // namespace

const std::vector<TrendSeries>& trend_series() {
    return series_tables().series;
}

const std::vector<TrendChartInfo>& trend_charts() {
    return series_tables().charts;
}

int trend_series_index(std::string_view column) {
    const auto& series = trend_series();
    for (size_t s = 0; s < series.size(); ++s) {
        if (series[s].column == column) {
            return static_cast<int>(s);
        }
    }
    return -1;
}

TrendFeed::TrendFeed(QObject* parent) : QObject(parent) {
    for (int family : {1, 2}) {
        m_columns[family] = record_columns(family);
        for (const TrendSeries& series : trend_series()) {
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
    // A pass without a fresh reply (a device that stopped answering) adds
    // no point and marks a gap in the recording.
    Sample sample = take_sample(m_columns[family], state, wall_clock_ms(), state.values_current());
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
    return m_histories.try_emplace(port, trend_series().size()).first->second;
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
