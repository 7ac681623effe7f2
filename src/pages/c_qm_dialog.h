// The QM device page (template 129) with its four settings tabs.
#pragma once

#include "pages/c_kx_qm.h"

namespace zorvane {

class c_qm_dialog : public c_kx_qm {
    Q_OBJECT
  public:
    explicit c_qm_dialog(QWidget* parent);
};

}  // namespace zorvane
