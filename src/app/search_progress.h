// The device search as the window runs it: on a thread of its own, with a
// display of the ports being probed and the devices found so far, and a
// Cancel button that ends the search with what was found.
#pragma once

#include <QEventLoop>
#include <QWidget>
#include <stop_token>

#include "link/discovery.h"

class QLabel;
class QPushButton;

namespace zorvane {

namespace search_progress {
inline constexpr const char* kCaption = "Поиск устройств";
inline constexpr const char* kProbing = "Опрашиваются порты: %1";
inline constexpr const char* kStarting = "Поиск последовательных портов…";
inline constexpr const char* kFound = "Найдено: %1";
inline constexpr const char* kNothingYet = "Найдено: пока ничего";
inline constexpr const char* kCancel = "Отмена";
inline constexpr const char* kCancelling = "Поиск прерывается…";
}  // namespace search_progress

// Not a dialog: it is no box to be answered, and it goes by itself when the
// search is over.
class SearchProgress : public QWidget {
    Q_OBJECT
  public:
    explicit SearchProgress(QWidget* parent = nullptr);

    // Shows the display, runs the search and returns its result once it is
    // over or cancelled; the display is hidden again.
    SearchResult run(DeviceState& state, SearchOptions options = {});

    QPushButton* cancel_button() const { return m_cancel; }
    QLabel* probing_label() const { return m_probing; }
    QLabel* found_label() const { return m_found; }

    void OnCancel();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void fit_text();
    void show_view(const QString& probing, const QString& found);

    QLabel* m_probing = nullptr;
    QLabel* m_found = nullptr;
    QPushButton* m_cancel = nullptr;
    std::stop_source m_stop;
    QEventLoop m_loop;
};

}  // namespace zorvane
