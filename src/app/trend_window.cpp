#include "app/trend_window.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>

#include "app/file_names.h"

namespace zorvane {

namespace {

// At first each chart shows its first series (the temperatures: the one
// inside the case); the rest are a click away.
bool shown_at_first(size_t series) {
    const auto& all = trend_series();
    return series == 0 || all[series].chart != all[series - 1].chart;
}

// Colours told apart on white and by most colour-blind eyes; where a chart
// has more lines than colours (the nine temperatures) the next round is
// dashed, then dotted.
constexpr QRgb kLineColours[] = {0x0072B2, 0xD55E00, 0x009E73, 0xCC79A7,
                                 0xE69F00, 0x56B4E9, 0x000000};
constexpr Qt::PenStyle kLineStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine};
constexpr size_t kColours = std::size(kLineColours);

QPen line_pen(size_t place_in_chart) {
    QPen pen(QColor(kLineColours[place_in_chart % kColours]));
    pen.setWidthF(1.5);
    pen.setStyle(kLineStyles[(place_in_chart / kColours) % std::size(kLineStyles)]);
    return pen;
}

// The line as its switch shows it: colour and style.
QIcon line_icon(const QPen& pen) {
    QPixmap picture(28, 10);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    QPen wide = pen;
    wide.setWidthF(2);
    painter.setPen(wide);
    painter.drawLine(1, 5, 27, 5);
    return QIcon(picture);
}

// Decimals that tell two neighbouring ticks apart.
QString label_format(double step) {
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
    return QStringLiteral("%.%1f").arg(decimals);
}

constexpr int64_t kSpanMs[] = {5LL * 60 * 1000, 3600LL * 1000, 24LL * 3600 * 1000, 0};
constexpr const char* kSpanNames[] = {"5 минут", "1 час", "24 часа", "Всё"};

QString tr_utf8(const char* text) {
    return QString::fromUtf8(text);
}

// A chart view that tells when the mouse changed its time range (a drag
// zooms in, the right button zooms out), as opposed to a redraw.
class TrendChartView : public QChartView {
  public:
    TrendChartView(QChart* chart, std::function<void()> zoomed)
        : QChartView(chart), m_zoomed(std::move(zoomed)) {}

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        const auto* axis = chart()->axes(Qt::Horizontal).value(0);
        const auto* time = qobject_cast<const QDateTimeAxis*>(axis);
        const QDateTime from = time != nullptr ? time->min() : QDateTime();
        const QDateTime to = time != nullptr ? time->max() : QDateTime();
        QChartView::mouseReleaseEvent(event);
        if (time != nullptr && (time->min() != from || time->max() != to)) {
            m_zoomed();
        }
    }

  private:
    std::function<void()> m_zoomed;
};

}  // namespace

TrendWindow::TrendWindow(TrendFeed& feed, QWidget* parent)
    : QWidget(parent, Qt::Window), m_feed(feed) {
    setWindowTitle(tr_utf8("Графики"));
    resize(900, 700);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr_utf8("Период:")));
    m_span_box = new QComboBox;
    for (const char* name : kSpanNames) {
        m_span_box->addItem(tr_utf8(name));
    }
    top->addWidget(m_span_box);
    m_pause = new QPushButton(tr_utf8("Пауза"));
    top->addWidget(m_pause);
    m_png = new QPushButton(tr_utf8("Сохранить рисунок…"));
    top->addWidget(m_png);
    top->addStretch(1);
    m_record = new QPushButton(tr_utf8("Записать в файл…"));
    top->addWidget(m_record);

    m_record_status = new QLabel;
    m_record_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_charts_panel = new QWidget;
    auto* charts = new QVBoxLayout(m_charts_panel);
    charts->setContentsMargins(0, 0, 0, 0);
    charts->setSpacing(0);
    m_charts.resize(trend_charts().size());
    for (size_t c = 0; c < m_charts.size(); ++c) {
        Chart& chart = m_charts[c];
        chart.chart = new QChart;
        chart.chart->legend()->hide();
        chart.chart->setTitle(
            QStringLiteral("%1, %2").arg(trend_charts()[c].title, trend_charts()[c].unit));
        chart.chart->setMargins(QMargins(4, 0, 4, 0));
        // Small type: a chart a fifth of a 400-pixel window high still shows
        // its title and every axis label whole.
        QFont title_font = chart.chart->titleFont();
        title_font.setPointSizeF(8.5);
        title_font.setBold(true);
        chart.chart->setTitleFont(title_font);
        chart.time = new QDateTimeAxis;
        chart.time->setTickCount(7);
        chart.value = new QValueAxis;
        chart.value->setLabelFormat(QStringLiteral("%.0f"));
        QFont label_font = chart.value->labelsFont();
        label_font.setPointSizeF(7.5);
        chart.time->setLabelsFont(label_font);
        chart.value->setLabelsFont(label_font);
        chart.chart->addAxis(chart.time, Qt::AlignBottom);
        chart.chart->addAxis(chart.value, Qt::AlignLeft);
        chart.view = new TrendChartView(chart.chart, [this, c] { on_zoomed(static_cast<int>(c)); });
        chart.view->setRenderHint(QPainter::Antialiasing, false);
        chart.view->setRubberBand(QChartView::HorizontalRubberBand);
        chart.view->setMinimumHeight(110);
        charts->addWidget(chart.view);
    }

    auto* switches = new QVBoxLayout;
    std::vector<size_t> lines_in_chart(m_charts.size(), 0);
    for (size_t s = 0; s < trend_series().size(); ++s) {
        const TrendSeries& series = trend_series()[s];
        Chart& chart = m_charts[series.chart];
        auto* line = new QLineSeries;
        line->setName(series.label);
        const QPen pen = line_pen(lines_in_chart[series.chart]++);
        chart.chart->addSeries(line);
        line->attachAxis(chart.time);
        line->attachAxis(chart.value);
        line->setPen(pen);
        line->setVisible(shown_at_first(s));
        m_lines.push_back(line);

        auto* box = new QCheckBox(series.label);
        box->setChecked(shown_at_first(s));
        // The switch wears its line's colour: the charts need no legend.
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, pen.color());
        box->setPalette(palette);
        box->setIcon(line_icon(pen));
        switches->addWidget(box);
        m_boxes.push_back(box);
        connect(box, &QCheckBox::toggled, this, [this, s](bool on) { set_series_visible(s, on); });
    }
    switches->addStretch(1);

    // A small window scrolls the charts rather than squeeze them past
    // reading; the switches scroll on their own.
    auto* chart_scroll = new QScrollArea;
    chart_scroll->setWidgetResizable(true);
    chart_scroll->setFrameShape(QFrame::NoFrame);
    chart_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    chart_scroll->setWidget(m_charts_panel);
    auto* switches_panel = new QWidget;
    switches_panel->setLayout(switches);
    auto* switch_scroll = new QScrollArea;
    switch_scroll->setWidgetResizable(true);
    switch_scroll->setFrameShape(QFrame::NoFrame);
    switch_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    switch_scroll->setWidget(switches_panel);
    switch_scroll->setMinimumWidth(switches_panel->sizeHint().width() +
                                   switch_scroll->verticalScrollBar()->sizeHint().width());
    switch_scroll->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto* middle = new QHBoxLayout;
    middle->addWidget(chart_scroll, 1);
    middle->addWidget(switch_scroll);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addWidget(m_record_status);

    connect(m_span_box, &QComboBox::currentIndexChanged, this,
            [this](int index) { set_span(static_cast<Span>(index)); });
    connect(m_pause, &QPushButton::clicked, this, [this] { set_paused(!m_paused); });
    connect(m_png, &QPushButton::clicked, this, [this] {
        const QString path = choose_png_file();
        if (!path.isEmpty() && !save_png(path)) {
            QMessageBox::warning(this, windowTitle(),
                                 tr_utf8("Не удалось сохранить рисунок в файл %1.").arg(path));
        }
    });
    connect(m_record, &QPushButton::clicked, this, [this] {
        if (m_feed.recording()) {
            toggle_recording({});
            return;
        }
        const QString path = choose_record_file();
        if (!path.isEmpty()) {
            toggle_recording(path);
        }
    });
    connect(&m_feed, &TrendFeed::passes_arrived, this, &TrendWindow::on_passes);
    connect(&m_feed, &TrendFeed::recording_changed, this, &TrendWindow::update_record_status);

    // Redraws come at most once per pixel column of time (once a second at
    // least): a day's chart gains one column in about two minutes.
    m_redraw_timer = new QTimer(this);
    m_redraw_timer->setInterval(1000);
    connect(m_redraw_timer, &QTimer::timeout, this, [this] {
        const int64_t now = QDateTime::currentMSecsSinceEpoch();
        const int width = std::max(100, static_cast<int>(m_charts[0].chart->plotArea().width()));
        const int64_t period = std::clamp<int64_t>(span_ms() / width, 1000, 60000);
        if (m_dirty && !m_paused && isVisible() && now - m_last_redraw >= period) {
            redraw();
        }
    });
    m_redraw_timer->start();
    update_record_status({});
}

void TrendWindow::keyPressEvent(QKeyEvent* event) {
    // Not a dialog, but closed like one.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

int64_t TrendWindow::span_ms() const {
    const int64_t span = kSpanMs[m_span];
    if (span != 0) {
        return span;
    }
    const TrendHistory* history = m_feed.history(m_port);
    return history != nullptr
               ? std::max<int64_t>(history->last_time() - history->first_time(), 1000)
               : 1000;
}

void TrendWindow::show_device(int port, int family, const QString& caption) {
    m_port = port;
    m_family = family;
    setWindowTitle(tr_utf8("Графики — %1").arg(caption));
    // Only what the device's family has can be switched on.
    for (size_t s = 0; s < m_lines.size(); ++s) {
        const TrendSeries& series = trend_series()[s];
        const bool has = family == 1 ? series.kx : series.qm;
        m_boxes[s]->setVisible(has);
        m_lines[s]->setVisible(has && m_boxes[s]->isChecked());
    }
    m_zoomed = false;
    redraw();
}

void TrendWindow::set_span(Span span) {
    m_span = span;
    if (m_span_box->currentIndex() != span) {
        m_span_box->setCurrentIndex(span);
    }
    m_zoomed = false;
    redraw();
}

void TrendWindow::set_paused(bool paused) {
    m_paused = paused;
    m_pause->setText(tr_utf8(paused ? "Продолжить" : "Пауза"));
    if (!paused) {
        // Back to the live view, whatever was zoomed.
        m_zoomed = false;
        redraw();
    }
}

void TrendWindow::set_series_visible(size_t series, bool visible) {
    if (series >= m_lines.size()) {
        return;
    }
    m_lines[series]->setVisible(visible);
    if (m_boxes[series]->isChecked() != visible) {
        m_boxes[series]->setChecked(visible);
    }
    redraw();
}

void TrendWindow::on_passes(int port) {
    if (port == m_port) {
        m_dirty = true;
    }
}

void TrendWindow::on_zoomed(int chart) {
    // A drag on one chart (or the right button) sets the time range of all,
    // and holds it still until "Продолжить".
    const QDateTimeAxis* axis = m_charts[static_cast<size_t>(chart)].time;
    m_zoom_from = axis->min().toMSecsSinceEpoch();
    m_zoom_to = axis->max().toMSecsSinceEpoch();
    m_zoomed = true;
    if (!m_paused) {
        m_paused = true;
        m_pause->setText(tr_utf8("Продолжить"));
    }
    // Drawn again at once, from the whole history, so the stretch shows
    // every pixel column's extremes rather than the coarser ones it had.
    QTimer::singleShot(0, this, &TrendWindow::redraw);
}

void TrendWindow::redraw() {
    m_dirty = false;
    m_last_redraw = QDateTime::currentMSecsSinceEpoch();
    const TrendHistory* history = m_feed.history(m_port);
    int64_t t1 = m_last_redraw;
    int64_t t0 = t1 - span_ms();
    if (m_span == All && history != nullptr) {
        t0 = history->first_time();
        t1 = std::max(t1, t0 + 1000);
    }
    if (m_zoomed) {
        t0 = m_zoom_from;
        t1 = std::max(m_zoom_to, m_zoom_from + 1);
    }
    const bool long_span = t1 - t0 > 6LL * 3600 * 1000;
    std::vector<double> low(m_charts.size(), std::numeric_limits<double>::infinity());
    std::vector<double> high(m_charts.size(), -std::numeric_limits<double>::infinity());
    std::vector<bool> any(m_charts.size(), false);
    for (size_t s = 0; s < m_lines.size(); ++s) {
        const size_t c = trend_series()[s].chart;
        any[c] = any[c] || m_lines[s]->isVisible();
        QList<QPointF> points;
        if (history != nullptr && m_lines[s]->isVisible()) {
            const int columns =
                std::max(100, static_cast<int>(m_charts[c].chart->plotArea().width()));
            for (const TrendBucket& b : history->reduce(s, t0, t1, columns)) {
                const bool min_first = b.min_time <= b.max_time;
                points.append(QPointF(double(min_first ? b.min_time : b.max_time),
                                      min_first ? b.min : b.max));
                if (b.min_time != b.max_time) {
                    points.append(QPointF(double(min_first ? b.max_time : b.min_time),
                                          min_first ? b.max : b.min));
                }
                low[c] = std::min<double>(low[c], b.min);
                high[c] = std::max<double>(high[c], b.max);
            }
        }
        m_lines[s]->replace(points);
    }
    for (size_t c = 0; c < m_charts.size(); ++c) {
        Chart& chart = m_charts[c];
        chart.view->setVisible(any[c]);
        chart.time->setFormat(long_span ? QStringLiteral("dd.MM hh:mm")
                                        : QStringLiteral("hh:mm:ss"));
        chart.time->setRange(QDateTime::fromMSecsSinceEpoch(t0),
                             QDateTime::fromMSecsSinceEpoch(t1));
        // As many labels as there is room for, each some 110 pixels wide and
        // 30 high.
        const QRectF plot = chart.chart->plotArea();
        chart.time->setTickCount(std::clamp(static_cast<int>(plot.width()) / 110, 2, 7));
        chart.value->setTickCount(std::clamp(static_cast<int>(plot.height()) / 30 + 1, 2, 6));
        double from = 0;
        double to = 1;
        if (std::isfinite(low[c])) {
            const double pad = std::max(0.5, (high[c] - low[c]) * 0.08);
            from = low[c] - pad;
            to = high[c] + pad;
        }
        if (trend_charts()[c].never_negative)
            from = std::max(0.0, from);
        chart.value->setRange(from, to);
        // Round ticks (900, 950 …): the range grows to the next round values.
        chart.value->applyNiceNumbers();
        const double step =
            (chart.value->max() - chart.value->min()) / std::max(1, chart.value->tickCount() - 1);
        chart.value->setLabelFormat(label_format(step));
    }
}

bool TrendWindow::save_png(const QString& path) {
    return m_charts_panel->grab().save(path, "PNG");
}

void TrendWindow::set_file_unit(DeviceModel model, std::string serial) {
    m_file_model = model;
    m_file_serial = std::move(serial);
}

QString TrendWindow::suggested_path(const QString& extension) const {
    if (!m_file_model)
        return dialog_folder();
    return suggested_file_path(*m_file_model, m_file_serial, extension);
}

QString TrendWindow::choose_png_file() {
    const QString path = QFileDialog::getSaveFileName(this, tr_utf8("Сохранить рисунок"),
                                                      suggested_path(QStringLiteral("png")),
                                                      tr_utf8("Рисунки PNG (*.png)"));
    remember_dialog_folder(path);
    return path;
}

QString TrendWindow::choose_record_file() {
    // A file of an earlier recording of the same device is continued, not
    // replaced: no question about overwriting it.
    const QString path = QFileDialog::getSaveFileName(
        this, tr_utf8("Записать в файл"), suggested_path(QStringLiteral("csv")),
        tr_utf8("Таблицы CSV (*.csv)"), nullptr, QFileDialog::DontConfirmOverwrite);
    remember_dialog_folder(path);
    return path;
}

bool TrendWindow::toggle_recording(const QString& path) {
    if (m_feed.recording()) {
        m_feed.stop_recording();
        return true;
    }
    const QString error = m_feed.start_recording(path, m_port, m_family);
    if (!error.isEmpty()) {
        QMessageBox::warning(this, tr_utf8("Запись в файл"), error);
        return false;
    }
    return true;
}

void TrendWindow::update_record_status(const QString& error) {
    if (!error.isEmpty()) {
        // Told once the tick that found it is over: no box inside the
        // hand-over of the passes.
        QTimer::singleShot(0, this, [this, error] {
            QMessageBox::warning(this, tr_utf8("Запись в файл"), error);
        });
    }
    if (m_feed.recording()) {
        m_record->setText(tr_utf8("Остановить запись"));
        m_record_status->setText(tr_utf8("Идёт запись в файл %1 (COM%2), записано строк: %3")
                                     .arg(m_feed.recording_path())
                                     .arg(m_feed.recording_port())
                                     .arg(m_feed.recorded_rows()));
    } else {
        m_record->setText(tr_utf8("Записать в файл…"));
        m_record_status->setText(tr_utf8("Запись в файл не ведётся."));
    }
}

}  // namespace zorvane
