// A page's tooltip control: one tip per registered control, shown even while
// the window is inactive, optionally wrapped to a maximum width.
#pragma once

#include <QObject>
#include <QString>
#include <span>

class QWidget;

namespace zorvane {

struct ToolDef {
    int id;
    const char* text;  // UTF-8
};

class TooltipControl : public QObject {
  public:
    // `page` owns the control; its window gets tips while inactive.
    explicit TooltipControl(QWidget* page);

    // 0 (the default): every tip on one line.
    void set_max_tip_width(int pixels) { m_max_tip_width = pixels; }
    int max_tip_width() const { return m_max_tip_width; }

    void add_tool(QWidget* tool, const QString& text);

    // The text as the tip shows it: lines broken at blanks so that none is
    // wider than the maximum width (a word longer than that is cut).
    QString shown_text(const QString& text) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* m_page;
    int m_max_tip_width = 0;
};

}  // namespace zorvane
