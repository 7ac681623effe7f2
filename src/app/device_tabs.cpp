#include "app/device_tabs.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

#include "pages/c_kx_qm.h"

namespace zorvane {

DeviceTabControl::DeviceTabControl(QWidget* parent) : QWidget(parent), m_bar(new QTabBar(this)) {
    m_bar->setDrawBase(false);
    m_bar->setExpanding(false);
    m_bar->setUsesScrollButtons(true);
    // Clicking a tab takes the focus, as a tab control does: the settings
    // field being edited loses it first and is written to the device it
    // belongs to, before the polled device changes.
    m_bar->setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_bar);
    connect(m_bar, &QTabBar::currentChanged, this, [this](int index) {
        const int previous = m_current;
        m_current = index;
        if (previous != index)
            emit selection_changed(previous, index);
    });
}

void DeviceTabControl::insert_front(const QString& caption, const DeviceTab& tab) {
    // The bar moves its current index along with the insertion; that is not
    // a change of selection by the technician, so it is not reported.
    const QSignalBlocker block(m_bar);
    m_bar->insertTab(0, caption);
    m_bar->setTabData(0, QVariant::fromValue(tab));
    m_current = m_bar->currentIndex();
}

void DeviceTabControl::replace(int index, const QString& caption, const DeviceTab& tab) {
    m_bar->setTabText(index, caption);
    m_bar->setTabData(index, QVariant::fromValue(tab));
}

int DeviceTabControl::count() const {
    return m_bar->count();
}

int DeviceTabControl::current() const {
    return m_bar->currentIndex();
}

void DeviceTabControl::select(int index) {
    m_bar->setCurrentIndex(index);
}

std::optional<DeviceTab> DeviceTabControl::item(int index) const {
    if (index < 0 || index >= m_bar->count())
        return std::nullopt;
    const QVariant data = m_bar->tabData(index);
    if (!data.canConvert<DeviceTab>())
        return std::nullopt;
    return data.value<DeviceTab>();
}

QString DeviceTabControl::caption(int index) const {
    return m_bar->tabText(index);
}

void DeviceTabControl::resizeEvent(QResizeEvent*) {
    m_bar->setGeometry(kPageX, 0, width() - 2 * kPageX, kPageY);
}

void DeviceTabControl::paintEvent(QPaintEvent*) {
    // The pane below the headers, drawn as the style draws a tab widget's.
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = QRect(0, kPageY - 2, width(), height() - kPageY + 2);
    frame.shape = QTabBar::RoundedNorth;
    frame.tabBarSize = m_bar->sizeHint();
    frame.tabBarRect = m_bar->geometry();
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}

}  // namespace zorvane
