// The counters window of a KX device: 16 rows, no transfer count.
#pragma once

#include <array>

#include "counters/counters_window.h"

namespace zorvane {

class c_dlg_srch : public CountersWindow {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 170;
    static constexpr int kFirstValueId = 1139;  // rows 0..15 are 1139..1154
    static constexpr std::array<int, 16> kCaptionWidths{258, 258, 258, 260, 258, 258, 256, 258,
                                                        257, 258, 258, 258, 257, 258, 258, 258};
    static constexpr CountersTemplate kTemplate{kTemplateId, 377, 241, kFirstValueId,
                                                kCaptionWidths};

    explicit c_dlg_srch(QWidget* parent = nullptr) : CountersWindow(kTemplate, parent) {}
};

}  // namespace zorvane
