#include "app/korvell_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <functional>
#include <thread>

#include "app/app_texts.h"
#include "app/display_step.h"
#include "app/network_ports_dialog.h"
#include "app/search_progress.h"
#include "app/trend_feed.h"
#include "app/trend_window.h"
#include "device/handover.h"
#include "device/poll_worker.h"
#include "link/discovery.h"
#include "link/port_report.h"
#include "link/serial_port.h"
#include "pages/c_kx_dialog.h"
#include "pages/c_qm_dialog.h"
#include "state/device_state.h"
#include "ui/bitmaps.h"

namespace zorvane {

namespace {

using K = ControlKind;
using namespace main_window;

constexpr ControlDef kTemplate102[] = {
    {kDeviceTabs, K::Tab, "", 7, 7, 445, 228},
    {kHelpButton, K::Button, "Справка", 460, 19, 73, 18},
    {kAboutButton, K::Button, "О программе", 460, 41, 73, 18},
    {kTrendButton, K::Button, "Графики", 460, 140, 73, 18},
    {kTraceButton, K::Button, "Запись обмена", 460, 164, 73, 18},
    {kOpenButton, K::Button, "Открыть", 460, 82, 73, 18},
    {kSaveButton, K::Button, "Сохранить", 460, 106, 73, 18},
    {kGenerationButton, K::Button, "--//--", 460, 192, 73, 18},
    {kCountersButton, K::Button, "Ресурс", 460, 216, 73, 18},
};

struct ButtonTip {
    int id;
    const char* text;
};
constexpr ButtonTip kButtonTips[] = {
    {kAboutButton, text::kAboutTip},
    {kGenerationButton, text::kGenerationTip},
    {kCountersButton, text::kCountersTip},
    {kTrendButton, text::kTrendTip},
};

constexpr int kWindowIcon = 174;

FoundDevice unit_of(const DeviceTab& tab) {
    FoundDevice unit;
    unit.port = tab.port;
    unit.model = tab.model;
    unit.serial = tab.serial;
    return unit;
}

// Never 0: 0 means "the device search is still running".
uint32_t ui_thread_id() {
    const size_t hash = std::hash<std::thread::id>{}(std::this_thread::get_id());
    const auto id = static_cast<uint32_t>(hash ^ (hash >> 32));
    return id != 0 ? id : 1;
}

}  // namespace

void message_box(QWidget* parent, QMessageBox::Icon icon, const char* caption,
                 const QString& text) {
    QMessageBox box(icon, QString::fromUtf8(caption), text, QMessageBox::Ok, parent);
    box.exec();
}

bool confirm_box(QWidget* parent, const char* caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(caption), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QString::fromUtf8(text::kYes));
    box.button(QMessageBox::No)->setText(QString::fromUtf8(text::kNo));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

CKorvellDlg::CKorvellDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(text::kAppName));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    // The tab control is ours (its tabs share page objects); the buttons come
    // from the template as they stand. Created in template order, which is
    // the tab order.
    const ControlDef& tab_def = kTemplate102[0];
    m_tab = new DeviceTabControl(this);
    m_tab->setObjectName(QString::number(tab_def.id));
    m_tab->setGeometry(dlu_rect(tab_def.x, tab_def.y, tab_def.w, tab_def.h));
    m_buttons = build_dialog(this, kWidth, kHeight, std::span(kTemplate102).subspan(1));
    m_buttons.add(kDeviceTabs, m_tab);

    // A device that stops answering must not pass for a running one: its
    // page goes blank and this notice lies over it until it answers again.
    m_silence_notice = new QLabel(m_tab);
    m_silence_notice->setObjectName(QStringLiteral("silence_notice"));
    m_silence_notice->setAlignment(Qt::AlignCenter);
    m_silence_notice->setWordWrap(true);
    m_silence_notice->setStyleSheet(
        QStringLiteral("QLabel { background: #fff4c2; color: #b00000; border: 2px solid #b00000;"
                       " font-weight: bold; padding: 6px; }"));
    {
        const QRect page = dlu_rect(tab_def.x, tab_def.y, tab_def.w, tab_def.h);
        const int width = page.width() * 4 / 5;
        m_silence_notice->setGeometry((page.width() - width) / 2, DeviceTabControl::kPageY + 70,
                                      width, 64);
    }
    m_silence_notice->hide();
    m_gen_button = button(kGenerationButton);
    // Enter on a focused button presses it, as in any dialog.
    for (const ControlDef& def : std::span(kTemplate102).subspan(1))
        button(def.id)->setAutoDefault(true);

    connect(button(kHelpButton), &QPushButton::clicked, this, &CKorvellDlg::OnHelpButton);
    connect(button(kAboutButton), &QPushButton::clicked, this, &CKorvellDlg::OnAbout);
    connect(button(kOpenButton), &QPushButton::clicked, this, &CKorvellDlg::OnOpenSettingsFile);
    connect(button(kSaveButton), &QPushButton::clicked, this, &CKorvellDlg::OnSaveSettingsFile);
    connect(m_gen_button, &QPushButton::clicked, this, &CKorvellDlg::OnGeneration);
    connect(button(kCountersButton), &QPushButton::clicked, this, &CKorvellDlg::OnCounters);
    connect(button(kTrendButton), &QPushButton::clicked, this, &CKorvellDlg::OnTrends);
    // Pressed while a trace runs.
    button(kTraceButton)->setText(tr("Запись обмена"));
    button(kTraceButton)->setCheckable(true);
    StopTrace();  // the button as it is with no trace running
    connect(button(kTraceButton), &QPushButton::clicked, this, &CKorvellDlg::OnTrace);
    m_trend_feed = new TrendFeed(this);

    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &CKorvellDlg::OnTimer);
    // A failed port is no reason to end the program: the worker waits the
    // outage out and the page says so (no box, no quit, no handler here).
}

CKorvellDlg::~CKorvellDlg() {
    m_timer.stop();
    // Joined first: nothing of the worker's can reach a window that is being
    // destroyed.
    if (m_worker)
        m_worker->stop();
    m_worker.reset();
    StopTrace();
}

QPushButton* CKorvellDlg::button(int id) const {
    return m_buttons.get<QPushButton>(id);
}

int CKorvellDlg::DoModal() {
    if (!OnInitDialog())
        return -1;
    return exec();
}

void CKorvellDlg::CreatePages() {
    m_qm_page = new c_qm_dialog(m_tab);
    m_qm_page->move(DeviceTabControl::kPageX, DeviceTabControl::kPageY);
    m_qm_page->hide();
    m_kx_page = new c_kx_dialog(m_tab);
    m_kx_page->move(DeviceTabControl::kPageX, DeviceTabControl::kPageY);
    m_kx_page->hide();
}

bool CKorvellDlg::OnInitDialog() {
    try {
        CreatePages();
    } catch (...) {
        message_box(this, QMessageBox::Critical, text::kAppName,
                    QString::fromUtf8(text::kPagesFailed));
        PostQuit();
        return false;
    }

    // No system menu to extend on every desktop: the About button is the way
    // to the About box.
    setWindowIcon(QIcon(bitmap(kWindowIcon)));

    // The announcement also leads to the network bridges the search is to
    // look at; OK starts the search with the list as it is kept.
    for (;;) {
        QMessageBox box(QMessageBox::Information, QString::fromUtf8(text::kAppName),
                        QString::fromUtf8(text::kSearchAnnouncement), QMessageBox::Ok, this);
        QPushButton* network = box.addButton(tr("Сетевые порты…"), QMessageBox::ActionRole);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        if (box.clickedButton() != network) {
            break;
        }
        NetworkPortsDialog(this).exec();
    }
    use_stored_network_ports();
    SearchProgress progress(this);
    const SearchResult search = progress.run(device_state);
    m_ports_seen = search.ports.size();
    // A port that is there but cannot be used is named, with its remedy,
    // rather than passed over in silence.
    if (const auto unusable = search.unusable(); !unusable.empty()) {
        message_box(this, QMessageBox::Warning, text::kAppName,
                    QString::fromStdString(unusable_ports_report(unusable, Language::Russian)));
    }
    for (const FoundDevice& found : search.found) {
        c_kx_qm* page = found.family() == Family::Kx ? static_cast<c_kx_qm*>(m_kx_page)
                                                     : static_cast<c_kx_qm*>(m_qm_page);
        m_tab->insert_front(QString::fromStdString(found.caption),
                            DeviceTab{page, found.port, found.family(), found.model, found.serial,
                                      found.identification});
        page->hide();
    }

    for (const ButtonTip& tip : kButtonTips)
        button(tip.id)->setToolTip(QString::fromUtf8(tip.text));

    // The last tab is the device found first. The polled device is the one
    // whose tab is selected (the search leaves the last one found in
    // g_com_port): a page never shows another device's values.
    const int k = m_tab->count();
    if (k > 0) {
        m_tab->select(k - 1);
        if (const auto tab = m_tab->item(k - 1)) {
            tab->page->show();
            device_state.g_com_port.store(tab->port);
            device_state.g_device_kind.store(kind_of(tab->family));
            store_identification(device_state, tab->identification);
        }
    }
    connect(m_tab, &DeviceTabControl::selection_changed, this, [this](int previous, int current) {
        OnTabSelChanging(previous);
        OnTabSelChange(current);
    });

    device_state.g_poll_pause.store(0);
    device_state.g_main_thread_id.store(ui_thread_id());
    start_worker();
    m_timer.start();
    return true;
}

void CKorvellDlg::start_worker() {
    m_worker = std::make_unique<PollWorker>(serial_port(), device_state);
    // The charts and the recording follow the passes the worker makes anyway.
    m_worker->set_pass_listener(
        [feed = m_trend_feed](const DeviceState& state) { feed->on_pass(state); });
    // The worker does not wait for the window: the event is queued, and it
    // is dropped if the window is gone by then.
    m_worker->set_event_listener([this](const SessionEvent& event) {
        {
            std::lock_guard lock(m_events_mutex);
            m_events.push_back(event);
        }
        QMetaObject::invokeMethod(this, "OnUnitEvents", Qt::QueuedConnection);
    });
    if (const auto tab = m_tab->item(m_tab->current())) {
        m_followed = unit_of(*tab);
        m_worker->follow(m_followed);
    }
    m_worker->start();
}

void CKorvellDlg::OnUnitEvents() {
    std::vector<SessionEvent> events;
    {
        std::lock_guard lock(m_events_mutex);
        events.swap(m_events);
    }
    for (const SessionEvent& event : events) OnUnitEvent(event);
}

void CKorvellDlg::OnUnitEvent(const SessionEvent& event) {
    // Loss and return show on the page at the next tick, from the state.
    if (event.kind == SessionEvent::Kind::OtherDevice)
        take_other_unit(event.device);
}

void CKorvellDlg::take_other_unit(const FoundDevice& found) {
    const int index = m_tab->current();
    const auto tab = m_tab->item(index);
    // Reported by a worker that has since been given another tab's unit.
    if (!tab || tab->port != device_state.g_com_port.load() ||
        device_state.g_link_lost_ms.load() == 0)
        return;
    const QString before = m_tab->caption(index);
    c_kx_qm* page = found.family() == Family::Kx ? static_cast<c_kx_qm*>(m_kx_page)
                                                 : static_cast<c_kx_qm*>(m_qm_page);
    const DeviceTab now{page,        tab->port,    found.family(),
                        found.model, found.serial, found.identification};
    m_tab->replace(index, QString::fromStdString(found.caption), now);
    // Writes come from this thread only: the new unit's certainty is in
    // place before its page can take a value.
    store_identification(device_state, found.identification);
    if (tab->page != page && tab->page != nullptr)
        tab->page->hide();
    page->show();
    poll_device_of(now);
    if (m_trend_window != nullptr) {
        m_trend_window->set_file_unit(now.model, now.serial);
        m_trend_window->show_device(now.port, kind_of(now.family), m_tab->caption(index));
    }
    OnTimer();
    message_box(this, QMessageBox::Information, text::kAppName,
                tr(text::kOtherUnitOnPort)
                    .arg(QString::number(now.port), QString::fromStdString(found.caption), before));
}

void CKorvellDlg::OnTimer() {
    m_trend_feed->drain();
    const auto tab = m_tab->item(m_tab->current());
    if (!tab || tab->page == nullptr) {
        m_timer.stop();
        // Whether any port was there at all tells the technician where to look.
        message_box(this, QMessageBox::Information, text::kAppName,
                    m_ports_seen > 0
                        ? QString::fromUtf8(text::kNoDevice)
                        : QString::fromStdString(no_device_report(0, Language::Russian)));
        PostQuit();
        return;
    }
    switch (tab->page->page_kind) {
        case c_kx_qm::kKxPage:
            kx_display_step(static_cast<c_kx_dialog&>(*tab->page), *m_gen_button);
            break;
        case c_kx_qm::kQmPage:
            qm_display_step(static_cast<c_qm_dialog&>(*tab->page), *m_gen_button);
            break;
        default:
            break;
    }
    show_silence_notice();
}

void CKorvellDlg::show_silence_notice() {
    // Nothing goes to a unit that cannot be reached, the generation switch
    // included (its caption is stale by then).
    const int64_t lost = device_state.g_link_lost_ms.load();
    m_gen_button->setEnabled(lost == 0);
    if (device_state.g_device_answering.load() != 0 && lost == 0) {
        m_silence_notice->hide();
        return;
    }
    const auto local_time = [](int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(
            QStringLiteral("HH:mm:ss"));
    };
    const int64_t last = device_state.g_last_answer_ms.load();
    QString text;
    if (lost != 0)
        text = tr(text::kLinkLostAt)
                   .arg(local_time(lost), QString::number(device_state.g_com_port.load()));
    else if (last == 0)
        text = QString::fromUtf8(text::kNotAnswering);
    else
        text = QString::fromUtf8(text::kNotAnsweringSince).arg(local_time(last));
    if (m_silence_notice->text() != text)
        m_silence_notice->setText(text);
    m_silence_notice->show();
    m_silence_notice->raise();
}

void CKorvellDlg::OnTabSelChanging(int previous) {
    const auto tab = m_tab->item(previous);
    if (!tab || tab->page == nullptr)
        return;
    // A field being edited is left now, so its write goes to the device it
    // was typed for.
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && tab->page->isAncestorOf(focus))
        m_tab->bar()->setFocus(Qt::OtherFocusReason);
    tab->page->hide();
}

void CKorvellDlg::OnTabSelChange(int current) {
    const auto tab = m_tab->item(current);
    if (!tab || tab->page == nullptr)
        return;
    tab->page->show();
    poll_device_of(*tab);
    if (m_trend_window != nullptr) {
        m_trend_window->set_file_unit(tab->model, tab->serial);
        m_trend_window->show_device(tab->port, kind_of(tab->family), m_tab->caption(current));
    }
    // Two devices of one family share the page: refreshed now, it never
    // shows the previous device's values, not even until the next tick.
    OnTimer();
}

void CKorvellDlg::poll_device_of(const DeviceTab& tab) {
    const FoundDevice unit = unit_of(tab);
    if (device_state.g_com_port.load() == tab.port &&
        device_state.g_device_kind.load() == kind_of(tab.family) && m_followed.same_unit(unit))
        return;
    park_worker(device_state);
    m_followed = unit;
    if (m_worker)
        m_worker->follow(unit);
    device_state.g_com_port.store(tab.port);
    device_state.g_device_kind.store(kind_of(tab.family));
    store_identification(device_state, tab.identification);
    // Nothing of the previous device may be shown, or compared with a typed
    // value, until the new device's first pass.
    device_state.g_values_read.store(0);
    device_state.g_device_answering.store(1);
    device_state.g_last_answer_ms.store(0);
    device_state.clear_device_values();
    release_worker(device_state);
}

void CKorvellDlg::closeEvent(QCloseEvent* event) {
    OnClose();
    QDialog::closeEvent(event);
}

void CKorvellDlg::OnClose() {
    device_state.g_settings_shown.store(0);
    if (m_worker) {
        // During an outage the worker may be probing the port (a silent
        // terminal there holds it for every retry of the identification):
        // it is stopped, which ends the probe at its next transaction,
        // rather than waited for.
        if (device_state.g_link_lost_ms.load() != 0)
            m_worker->stop();
        park_worker(device_state);
    }
}

void CKorvellDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Esc never end the program: a dialog's own handling would
    // take them for OK and Cancel and end the window at once, without the
    // close sequence (the worker not parked first). The program ends only
    // through the close box, Alt+F4 or the system menu. A focused button
    // takes Enter itself (it is pressed); the pages turn both keys into a
    // focus move before they get here.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter || event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKorvellDlg::PostQuit() {
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

}  // namespace zorvane
