#include "pages/c_kx_qm.h"

#include <QKeyEvent>

namespace zorvane {

c_kx_qm::c_kx_qm(int kind, QWidget* parent) : QWidget(parent), page_kind(kind) {
    // The page must be able to hold the focus that Enter and Esc give it.
    setFocusPolicy(Qt::ClickFocus);
}

void c_kx_qm::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            OnOK();
            event->accept();
            return;
        case Qt::Key_Escape:
            OnCancel();
            event->accept();
            return;
        default:
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
