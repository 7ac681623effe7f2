// Window templates as data: one table of controls per dialog, built into Qt
// widgets. Positions are dialog units of an 8-point dialog font; creation
// order is the template order, which Qt also takes as the tab order.
#pragma once

#include <QWidget>
#include <map>
#include <span>

namespace zorvane {

enum class ControlKind {
    Label,         // static text
    Edit,          // single-line edit, bordered
    ReadOnlyEdit,  // read-only edit, bordered, still a tab stop
    Button,
    DefaultButton,
    Picture,    // static showing a bitmap (lamps, mode pictures, schematics)
    Tab,        // tab control
    ComboList,  // drop-down list
    CheckBox,
    EtchedHLine,
    EtchedVLine,
};

namespace ctl {
inline constexpr unsigned kHidden = 1u << 0;
inline constexpr unsigned kAlignRight = 1u << 1;
inline constexpr unsigned kAlignCenter = 1u << 2;
inline constexpr unsigned kBorderless = 1u << 3;
inline constexpr unsigned kNoTabStop = 1u << 4;
inline constexpr unsigned kCenterImage = 1u << 5;
}  // namespace ctl

inline constexpr int kNoId = -1;  // controls nobody refers to

struct ControlDef {
    int id;
    ControlKind kind;
    const char* text;  // UTF-8
    int x, y, w, h;    // dialog units
    unsigned flags = 0;
};

// Dialog units to pixels (base units of the 8-point dialog font).
inline int dlu_x(int x) {
    return x * 6 / 4;
}
inline int dlu_y(int y) {
    return y * 13 / 8;
}
QRect dlu_rect(int x, int y, int w, int h);

// The controls of one built dialog, by id (controls with kNoId are not kept).
class DialogControls {
  public:
    QWidget* widget(int id) const;
    template <typename T>
    T* get(int id) const {
        return qobject_cast<T*>(widget(id));
    }
    void add(int id, QWidget* w) { m_by_id[id] = w; }

  private:
    std::map<int, QWidget*> m_by_id;
};

// Creates the controls of `controls` as children of `parent`, in order, sizes
// `parent` to width x height dialog units and returns them by id.
DialogControls build_dialog(QWidget* parent, int width, int height,
                            std::span<const ControlDef> controls);

}  // namespace zorvane
