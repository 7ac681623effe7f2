// Answers the window's message boxes (the search announcement) as a
// technician would, and notes when it last did.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>

namespace zorvane::bench {

class BoxAnswerer {
  public:
    explicit BoxAnswerer(int interval_ms = 10) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                answered = std::chrono::steady_clock::now();
                box->accept();
            }
        });
        m_timer.start(interval_ms);
    }

    std::chrono::steady_clock::time_point answered{};

  private:
    QTimer m_timer;
};

}  // namespace zorvane::bench
