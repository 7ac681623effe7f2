// Base of the two device pages: the page kind on which the display tick
// dispatches, and Enter/Esc turned into a focus move (which commits the field
// being edited) instead of closing anything.
#pragma once

#include <QWidget>
#include <functional>

class QKeyEvent;

namespace zorvane {

// Enter and Esc inside a page or settings tab never close it: they run its OK
// or Cancel handler. True when the key was one of the two.
bool dispatch_enter_esc(QKeyEvent* event, const std::function<void()>& on_ok,
                        const std::function<void()>& on_cancel);

class c_kx_qm : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kKxPage = 1;
    static constexpr int kQmPage = 2;

    c_kx_qm(int kind, QWidget* parent);

    const int page_kind;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Enter and Esc: the focus goes to the page itself.
    virtual void OnOK();
    virtual void OnCancel();
};

}  // namespace zorvane
