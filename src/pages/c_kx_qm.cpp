#include "pages/c_kx_qm.h"

#include <QKeyEvent>

namespace zorvane {

bool dispatch_enter_esc(QKeyEvent* event, const std::function<void()>& on_ok,
                        const std::function<void()>& on_cancel) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            on_ok();
            break;
        case Qt::Key_Escape:
            on_cancel();
            break;
        default:
            return false;
    }
    event->accept();
    return true;
}

c_kx_qm::c_kx_qm(int kind, QWidget* parent) : QWidget(parent), page_kind(kind) {
    // The page must be able to hold the focus that Enter and Esc give it.
    setFocusPolicy(Qt::ClickFocus);
}

void c_kx_qm::keyPressEvent(QKeyEvent* event) {
    if (!dispatch_enter_esc(
            event, [this] { OnOK(); }, [this] { OnCancel(); })) {
        QWidget::keyPressEvent(event);
    }
}

void c_kx_qm::OnOK() {
    setFocus(Qt::OtherFocusReason);
}
void c_kx_qm::OnCancel() {
    setFocus(Qt::OtherFocusReason);
}

}  // namespace zorvane
