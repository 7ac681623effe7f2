#include "app/search_progress.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <thread>

namespace zorvane {

namespace {

using namespace search_progress;

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

QString short_label(const PortInfo& port) {
    return port.com > 0 && port.com <= kLastComPort ? QStringLiteral("COM%1").arg(port.com)
                                                    : QString::fromStdString(port.path);
}

// Hands what the probing threads see over to the display's thread.
class ProgressRelay final : public SearchObserver {
  public:
    explicit ProgressRelay(SearchProgress* display, std::function<void(QString, bool)> probing,
                           std::function<void(QString)> found)
        : m_display(display), m_probing(std::move(probing)), m_found(std::move(found)) {}

    void probing(const PortInfo& port) override {
        QMetaObject::invokeMethod(
            m_display, [this, label = short_label(port)] { m_probing(label, true); },
            Qt::QueuedConnection);
    }
    void probed(const PortInfo& port, const ProbeResult& result) override {
        const QString label = short_label(port);
        const QString caption = result.device
                                    ? QStringLiteral("%1 (%2)").arg(
                                          QString::fromStdString(result.device->caption), label)
                                    : QString();
        QMetaObject::invokeMethod(
            m_display,
            [this, label, caption] {
                m_probing(label, false);
                if (!caption.isEmpty())
                    m_found(caption);
            },
            Qt::QueuedConnection);
    }

  private:
    SearchProgress* m_display;
    std::function<void(QString, bool)> m_probing;
    std::function<void(QString)> m_found;
};

}  // namespace

SearchProgress::SearchProgress(QWidget* parent) : QWidget(parent, Qt::Dialog) {
    setWindowTitle(u8(kCaption));
    setWindowModality(Qt::ApplicationModal);
    m_probing = new QLabel(u8(kStarting), this);
    m_found = new QLabel(u8(kNothingYet), this);
    m_found->setWordWrap(true);
    m_cancel = new QPushButton(u8(kCancel), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_probing);
    layout->addWidget(m_found);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    setMinimumWidth(320);
    connect(m_cancel, &QPushButton::clicked, this, &SearchProgress::OnCancel);
}

SearchResult SearchProgress::run(DeviceState& state, SearchOptions options) {
    ProgressRelay relay(
        this, [this](const QString& port, bool started) { show_probing(port, started); },
        [this](const QString& caption) { show_found(caption); });
    options.observer = &relay;
    options.stop = m_stop.get_token();
    SearchResult result;
    show();
    {
        std::jthread search([&] {
            result = search_devices(state, options);
            QMetaObject::invokeMethod(&m_loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        m_loop.exec();
    }
    // What the threads queued before they ended is shown no more.
    QCoreApplication::removePostedEvents(this);
    hide();
    return result;
}

void SearchProgress::OnCancel() {
    m_stop.request_stop();
    m_cancel->setEnabled(false);
    m_probing->setText(u8(kCancelling));
}

void SearchProgress::closeEvent(QCloseEvent* event) {
    // Closing the display is cancelling the search; it goes when that is over.
    OnCancel();
    event->ignore();
}

void SearchProgress::show_probing(const QString& port, bool started) {
    if (m_stop.stop_requested())
        return;
    if (started)
        m_in_progress.append(port);
    else
        m_in_progress.removeOne(port);
    if (!m_in_progress.empty())
        m_probing->setText(u8(kProbing).arg(m_in_progress.join(QStringLiteral(", "))));
}

void SearchProgress::show_found(const QString& caption) {
    m_found_list.append(caption);
    m_found->setText(u8(kFound).arg(m_found_list.join(QStringLiteral("; "))));
}

}  // namespace zorvane
