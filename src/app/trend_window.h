// The trend window: live charts of the polled device's readings (voltages,
// current, power, temperatures), one chart per unit, each series switchable;
// spans of 5 minutes, 1 hour, 24 hours or all that is held; pause, zoom with
// the mouse (a drag marks the stretch, the right button zooms out), the
// charts as a PNG picture, and the CSV recording of the device. Not modal:
// the main window goes on as before, and switching its device tab switches
// the charts.
#pragma once

#include <QWidget>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/trend_feed.h"
#include "state/models.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QKeyEvent;
class QTimer;

class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace zorvane {

class TrendWindow : public QWidget {
    Q_OBJECT
  public:
    enum Span { Minutes5, Hour1, Hours24, All };

    TrendWindow(TrendFeed& feed, QWidget* parent);

    // The device whose history is shown (its tab caption in the title).
    void show_device(int port, int family, const QString& caption);
    // The unit whose files the save and record dialogs name
    // (MODEL_SERIAL_DATE.png|csv).
    void set_file_unit(DeviceModel model, std::string serial);
    int shown_port() const { return m_port; }

    void set_span(Span span);
    void set_paused(bool paused);
    bool paused() const { return m_paused; }
    void set_series_visible(size_t series, bool visible);
    // Draws the shown device's history now.
    void redraw();
    // The charts as they are shown, as a PNG file.
    bool save_png(const QString& path);
    // Starts the recording of the shown device into `path`, or stops the one
    // running; false (and a box) when it could not start.
    bool toggle_recording(const QString& path);

    // For tests and pictures.
    QLineSeries* line(size_t series) const { return m_lines[series]; }
    QChartView* view(size_t chart) const { return m_charts[chart].view; }
    QPushButton* record_button() const { return m_record; }
    QLabel* record_status() const { return m_record_status; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The file dialogs (replaced by tests).
    virtual QString choose_png_file();
    virtual QString choose_record_file();

  private:
    struct Chart {
        QChart* chart = nullptr;
        QChartView* view = nullptr;
        QDateTimeAxis* time = nullptr;
        QValueAxis* value = nullptr;
    };

    void on_passes(int port);
    // The time range of chart `chart` was changed with the mouse.
    void on_zoomed(int chart);
    void update_record_status(const QString& error);
    // The dialog's starting point: the folder used last, and the unit's name.
    QString suggested_path(const QString& extension) const;
    int64_t span_ms() const;

    TrendFeed& m_feed;
    int m_port = 0;
    int m_family = 0;
    Span m_span = Minutes5;
    bool m_paused = false;
    bool m_zoomed = false;
    int64_t m_zoom_from = 0;
    int64_t m_zoom_to = 0;
    int64_t m_last_redraw = 0;
    std::optional<DeviceModel> m_file_model;
    std::string m_file_serial;
    bool m_dirty = false;

    QComboBox* m_span_box = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_png = nullptr;
    QPushButton* m_record = nullptr;
    QLabel* m_record_status = nullptr;
    QWidget* m_charts_panel = nullptr;
    QTimer* m_redraw_timer = nullptr;
    std::vector<Chart> m_charts;
    std::vector<QLineSeries*> m_lines;
    std::vector<QCheckBox*> m_boxes;
};

}  // namespace zorvane
