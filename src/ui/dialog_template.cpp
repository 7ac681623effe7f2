#include "ui/dialog_template.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace zorvane {

QRect dlu_rect(int x, int y, int w, int h) {
    return QRect(dlu_x(x), dlu_y(y), dlu_x(w), dlu_y(h));
}

QWidget* DialogControls::widget(int id) const {
    auto it = m_by_id.find(id);
    return it == m_by_id.end() ? nullptr : it->second;
}

namespace {

Qt::Alignment alignment(unsigned flags) {
    if (flags & ctl::kAlignRight)
        return Qt::AlignRight | Qt::AlignVCenter;
    if (flags & ctl::kAlignCenter)
        return Qt::AlignCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

QWidget* make_control(QWidget* parent, const ControlDef& def) {
    const QString text = QString::fromUtf8(def.text ? def.text : "");
    switch (def.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case ControlKind::Edit:
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(text, parent);
            edit->setReadOnly(def.kind == ControlKind::ReadOnlyEdit);
            edit->setAlignment(alignment(def.flags));
            edit->setFrame(!(def.flags & ctl::kBorderless));
            edit->setFocusPolicy(Qt::StrongFocus);
            return edit;
        }
        case ControlKind::Button:
        case ControlKind::DefaultButton: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(def.kind == ControlKind::DefaultButton);
            button->setAutoDefault(false);
            return button;
        }
        case ControlKind::Picture: {
            auto* picture = new QLabel(parent);
            picture->setAlignment((def.flags & ctl::kCenterImage) ? Qt::AlignCenter
                                                                  : Qt::AlignLeft | Qt::AlignTop);
            return picture;
        }
        case ControlKind::Tab:
            return new QTabWidget(parent);
        case ControlKind::ComboList:
            return new QComboBox(parent);
        case ControlKind::CheckBox:
            return new QCheckBox(text, parent);
        case ControlKind::EtchedHLine:
        case ControlKind::EtchedVLine: {
            auto* line = new QFrame(parent);
            line->setFrameShape(def.kind == ControlKind::EtchedHLine ? QFrame::HLine
                                                                     : QFrame::VLine);
            line->setFrameShadow(QFrame::Sunken);
            return line;
        }
    }
    return nullptr;
}

}  // namespace

DialogControls build_dialog(QWidget* parent, int width, int height,
                            std::span<const ControlDef> controls) {
    parent->setFixedSize(dlu_x(width), dlu_y(height));
    DialogControls out;
    for (const ControlDef& def : controls) {
        QWidget* w = make_control(parent, def);
        QRect rect = dlu_rect(def.x, def.y, def.w, def.h);
        // An etched line is one pixel thick whatever its dialog-unit size.
        if (def.kind == ControlKind::EtchedHLine)
            rect.setHeight(2);
        if (def.kind == ControlKind::EtchedVLine)
            rect.setWidth(2);
        w->setGeometry(rect);
        if (def.flags & ctl::kNoTabStop)
            w->setFocusPolicy(Qt::NoFocus);
        if (def.flags & ctl::kHidden)
            w->hide();
        if (def.id != kNoId) {
            w->setObjectName(QString::number(def.id));
            out.add(def.id, w);
        }
    }
    return out;
}

}  // namespace zorvane
