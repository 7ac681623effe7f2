#include "pages/c_qm_dialog.h"

namespace zorvane {

// Placeholder page until the QM page is built: kind 2, empty.
c_qm_dialog::c_qm_dialog(QWidget* parent) : c_kx_qm(kQmPage, parent) {}

}  // namespace zorvane
