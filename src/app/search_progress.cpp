#include "app/search_progress.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <mutex>
#include <thread>

namespace zorvane {

namespace {

using namespace search_progress;

// How often the display looks at the search.
constexpr int kLookMs = 30;

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

QString short_label(const PortInfo& port) {
    return port.com > 0 && port.com <= kLastComPort ? QStringLiteral("COM%1").arg(port.com)
                                                    : QString::fromStdString(port.path);
}

// What the probing threads have seen, kept under a lock for the display's
// thread to look at: no Qt object is touched from a probing thread.
class SearchState final : public SearchObserver {
  public:
    void probing(const PortInfo& port) override {
        std::lock_guard lock(m_mutex);
        m_in_progress.push_back(short_label(port).toStdString());
    }
    void probed(const PortInfo& port, const ProbeResult& result) override {
        const std::string label = short_label(port).toStdString();
        std::lock_guard lock(m_mutex);
        std::erase(m_in_progress, label);
        if (result.device)
            m_found.push_back(result.device->caption + " (" + label + ")");
    }
    void finish() {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    struct View {
        std::vector<std::string> in_progress;
        std::vector<std::string> found;
        bool done = false;
    };
    View view() const {
        std::lock_guard lock(m_mutex);
        return {m_in_progress, m_found, m_done};
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_in_progress;  // in the order the probes began
    std::vector<std::string> m_found;
    bool m_done = false;
};

QString joined(const std::vector<std::string>& items, const char* separator) {
    QStringList list;
    for (const std::string& item : items) list.append(QString::fromStdString(item));
    return list.join(QString::fromLatin1(separator));
}

}  // namespace

SearchProgress::SearchProgress(QWidget* parent) : QWidget(parent, Qt::Dialog) {
    setWindowTitle(u8(kCaption));
    setWindowModality(Qt::ApplicationModal);
    m_probing = new QLabel(u8(kStarting), this);
    m_found = new QLabel(u8(kNothingYet), this);
    // Both lines grow with the search (eight ports probed at once, a list of
    // devices): they wrap, and the display grows to show every line whole.
    m_probing->setWordWrap(true);
    m_found->setWordWrap(true);
    m_cancel = new QPushButton(u8(kCancel), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_probing);
    layout->addWidget(m_found);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    setMinimumWidth(320);
    resize(380, sizeHint().height());
    connect(m_cancel, &QPushButton::clicked, this, &SearchProgress::OnCancel);
}

SearchResult SearchProgress::run(DeviceState& state, SearchOptions options) {
    SearchState seen;
    options.observer = &seen;
    options.stop = m_stop.get_token();
    SearchResult result;
    QTimer look;
    look.setInterval(kLookMs);
    connect(&look, &QTimer::timeout, this, [this, &seen] {
        const SearchState::View view = seen.view();
        show_view(joined(view.in_progress, ", "), joined(view.found, "; "));
        if (view.done)
            m_loop.quit();
    });
    show();
    {
        std::jthread search([&] {
            result = search_devices(state, options);
            seen.finish();
        });
        look.start();
        m_loop.exec();
    }
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

void SearchProgress::show_view(const QString& probing, const QString& found) {
    if (!m_stop.stop_requested() && !probing.isEmpty())
        m_probing->setText(u8(kProbing).arg(probing));
    if (!found.isEmpty())
        m_found->setText(u8(kFound).arg(found));
    fit_text();
}

void SearchProgress::fit_text() {
    // A top-level widget does not follow its labels' height for its width by
    // itself: a text of more lines than it had room for was cut at top and
    // bottom. Growing only, so the display does not jump as probes end.
    layout()->activate();
    const int need = layout()->totalHeightForWidth(width());
    if (need > height())
        resize(width(), need);
}

}  // namespace zorvane
