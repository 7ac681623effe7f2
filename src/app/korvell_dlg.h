// The main window (template 102): the device tab control with the two device
// pages, the command buttons, the 200 ms display tick, the polling worker's
// start and stop, and the ways the program ends.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <memory>
#include <mutex>
#include <vector>

#include "app/device_tabs.h"
#include "device/device_session.h"
#include "ui/dialog_template.h"

class QLabel;
class QPushButton;

namespace zorvane {

class PollWorker;
class TrendFeed;
class TraceFile;
class TrendWindow;
class c_kx_dialog;
class c_qm_dialog;

namespace main_window {
inline constexpr int kDeviceTabs = 1004;
inline constexpr int kHelpButton = 1011;
inline constexpr int kAboutButton = 1156;
inline constexpr int kOpenButton = 1008;
inline constexpr int kSaveButton = 1009;
inline constexpr int kGenerationButton = 1003;
inline constexpr int kCountersButton = 1005;
inline constexpr int kTrendButton = 1201;  // "Графики": an addition of this tool
inline constexpr int kTraceButton = 1202;  // "Запись обмена": an addition of this tool
inline constexpr int kWidth = 540;         // dialog units
inline constexpr int kHeight = 242;
inline constexpr int kTickMs = 200;
}  // namespace main_window

class CKorvellDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CKorvellDlg(QWidget* parent = nullptr);
    ~CKorvellDlg() override;

    // Initialisation, then the modal loop; -1 when initialisation failed.
    int DoModal();
    // Pages, device search, tabs, worker and timer. False when the pages
    // could not be created (the program is then ending, nothing searched).
    bool OnInitDialog();

    // The display tick.
    void OnTimer();

    // Command buttons.
    void OnGeneration();
    void OnCounters();
    void OnHelpButton();
    void OnAbout();
    void OnOpenSettingsFile();
    void OnSaveSettingsFile();
    void OnTrends();
    // "Запись обмена": asks for a file (and whether serial numbers are to be
    // replaced) and starts a trace of every frame; pressed again, stops it.
    void OnTrace();
    // The trace itself, as the button starts it. False, with the reason in
    // `error`, when the file is refused; the button shows whether a trace runs.
    bool StartTrace(const QString& path, bool anonymize, QString* error = nullptr);
    void StopTrace();
    bool tracing() const { return m_trace != nullptr; }

    DeviceTabControl* tabs() const { return m_tab; }
    QPushButton* gen_button() const { return m_gen_button; }
    // Shown over the page while the polled device does not answer.
    QLabel* silence_notice() const { return m_silence_notice; }
    QPushButton* button(int id) const;
    c_kx_dialog* kx_page() const { return m_kx_page; }
    c_qm_dialog* qm_page() const { return m_qm_page; }
    const QTimer& timer() const { return m_timer; }
    // The settings-file preview while it is open (for tests and pictures).
    QDialog* settings_preview() const { return m_preview; }
    bool worker_running() const { return m_worker != nullptr; }
    TrendFeed* trend_feed() const { return m_trend_feed; }
    TrendWindow* trend_window() const { return m_trend_window; }

  protected:
    // Creates both device pages as hidden children of the tab control.
    virtual void CreatePages();
    // Ends the program once the current handler has returned: every modal
    // loop, the main window's included, is left.
    virtual void PostQuit();

    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private slots:
    // Takes the worker's queued events, on the window's thread.
    void OnUnitEvents();

  private:
    void OnTabSelChanging(int previous);
    void OnTabSelChange(int current);
    void OnClose();
    // What the worker tells of the polled unit's link, on the window's thread.
    void OnUnitEvent(const SessionEvent& event);
    // Another unit answers on the lost unit's port: its tab becomes that unit's.
    void take_other_unit(const FoundDevice& found);
    void poll_device_of(const DeviceTab& tab);
    void show_silence_notice();
    void start_worker();

    DeviceTabControl* m_tab = nullptr;
    QPushButton* m_gen_button = nullptr;
    QLabel* m_silence_notice = nullptr;
    DialogControls m_buttons;
    c_qm_dialog* m_qm_page = nullptr;
    c_kx_dialog* m_kx_page = nullptr;
    QTimer m_timer;
    std::unique_ptr<PollWorker> m_worker;
    TrendFeed* m_trend_feed = nullptr;
    TrendWindow* m_trend_window = nullptr;  // made when first asked for
    size_t m_ports_seen = 0;                // by the device search
    FoundDevice m_followed;
    // The worker's events waiting for the window's thread; the call that
    // takes them is queued by slot name, so that the event is made inside Qt
    // rather than by the worker (as the link-failure notice is).
    std::mutex m_events_mutex;
    std::vector<SessionEvent> m_events;  // the unit the worker polls and waits for
    std::shared_ptr<TraceFile> m_trace;  // the wire's listener while a trace runs
    QDialog* m_preview = nullptr;
};

// A modal box with one OK button, owned by `parent`.
void message_box(QWidget* parent, QMessageBox::Icon icon, const char* caption, const QString& text);

// A modal warning box that asks "Да" or "Нет", "Нет" the default (Enter
// without a thought, Esc and the close box all answer no): true for "Да" only.
bool confirm_box(QWidget* parent, const char* caption, const QString& text);

}  // namespace zorvane
