// The display steps of the 200 ms tick, one per page kind.
#pragma once

class QPushButton;

namespace zorvane {

class c_kx_dialog;
class c_qm_dialog;

void kx_display_step(c_kx_dialog& page, QPushButton& gen_button);
void qm_display_step(c_qm_dialog& page, QPushButton& gen_button);

}  // namespace zorvane
