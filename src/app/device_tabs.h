// The device tab control (1004): one tab per identified device, each carrying
// the page of its family as item data. Two devices of one family share one
// page object, so the pages are not owned by the tabs: they are children of
// the control, laid over its client area below the headers, and the one of
// the current tab is shown.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "state/device_state.h"
#include "state/models.h"

class QTabBar;

namespace zorvane {

class c_kx_qm;

struct DeviceTab {
    c_kx_qm* page = nullptr;
    int port = 0;  // COMn of the device
    Family family = Family::None;
    DeviceModel model = DeviceModel::KX24;
    std::string serial;
    Identification identification;  // how surely the search identified it
};

class DeviceTabControl : public QWidget {
    Q_OBJECT
  public:
    // Where the pages sit, in pixels of the control's client area.
    static constexpr int kPageX = 2;
    static constexpr int kPageY = 22;

    explicit DeviceTabControl(QWidget* parent);

    // Inserts a tab in front of all others.
    void insert_front(const QString& caption, const DeviceTab& tab);
    // Gives the tab at `index` another device (a unit swapped on its port).
    void replace(int index, const QString& caption, const DeviceTab& tab);
    int count() const;
    int current() const;  // -1 with no tab
    void select(int index);
    std::optional<DeviceTab> item(int index) const;
    QString caption(int index) const;

    QTabBar* bar() const { return m_bar; }

  signals:
    // The selection moved from `previous` to `current` (either may be -1).
    void selection_changed(int previous, int current);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QTabBar* m_bar;
    int m_current = -1;
};

}  // namespace zorvane

Q_DECLARE_METATYPE(zorvane::DeviceTab)
