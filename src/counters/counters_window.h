// The one builder behind both counters windows: a modal window listing the
// lifetime counters, a caption with its leader on the left of each row and the
// counter's value on the right. The two windows differ only in their template
// (id, size, row count, first value id, caption widths).
#pragma once

#include <QDialog>
#include <span>
#include <vector>

class QKeyEvent;
class QLabel;

namespace zorvane {

struct CountersTemplate {
    int template_id;
    int width, height;                    // dialog units
    int first_value_id;                   // value static of row i is first_value_id + i
    std::span<const int> caption_widths;  // dialog units, one per row
};

inline constexpr const char* kCountersCaption = "Ресурсные данные";

class CountersWindow : public QDialog {
    Q_OBJECT
  public:
    CountersWindow(const CountersTemplate& tpl, QWidget* parent);

    int rows() const { return static_cast<int>(m_values.size()); }
    QLabel* caption_static(int row) const;
    QLabel* value_static(int row) const;

  protected:
    // Fills the value column from one consistent copy of the counters; the
    // window is not refreshed afterwards.
    void OnInitDialog();
    // Esc is the dialog's own; Enter closes the window too, with no button.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::vector<QLabel*> m_captions;
    std::vector<QLabel*> m_values;
};

}  // namespace zorvane
