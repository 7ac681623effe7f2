// The counters window of a QM device: the KX rows plus the count of transfers
// from mains to battery.
#pragma once

#include <array>

#include "counters/counters_window.h"

namespace zorvane {

class res_dialog : public CountersWindow {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 162;
    static constexpr int kFirstValueId = 1105;  // rows 0..16 are 1105..1121
    static constexpr std::array<int, 17> kCaptionWidths{258, 258, 258, 260, 258, 258, 256, 258, 257,
                                                        258, 258, 258, 257, 258, 258, 258, 259};
    static constexpr CountersTemplate kTemplate{kTemplateId, 377, 254, kFirstValueId,
                                                kCaptionWidths};

    explicit res_dialog(QWidget* parent = nullptr) : CountersWindow(kTemplate, parent) {}
};

}  // namespace zorvane
