// The dialog templates were laid out for a narrower font than the ones a
// Linux desktop offers: a page takes the largest font, at most the one it
// inherits, at which every one of its labels shows its whole text.
#pragma once

class QWidget;

namespace zorvane {

inline constexpr double kSmallestPageFont = 6.0;  // points

void fit_font_to_labels(QWidget* page);

}  // namespace zorvane
