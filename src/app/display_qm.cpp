#include "app/display_step.h"
#include "pages/c_qm_dialog.h"

namespace zorvane {

// Placeholder until the QM page display is built.
void qm_display_step(c_qm_dialog&, QPushButton&) {}

}  // namespace zorvane
