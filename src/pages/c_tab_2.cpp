#include "pages/c_tab_2.h"

namespace zorvane {

namespace {

using K = ControlKind;
using namespace tab2_id;

// Template order is tab order: the left column (mains to batteries) first.
constexpr ControlDef kTemplate152[] = {
    {kUrmsLowL, K::Edit, nullptr, 82, 25, 54, 12},
    {kUrmsHighH, K::Edit, nullptr, 82, 49, 54, 12},
    {kUrmsLowH, K::Edit, nullptr, 215, 26, 54, 12},
    {kUrmsHighL, K::Edit, nullptr, 215, 47, 54, 12},
    {kNoId, K::Label, "UrmslowL:", 18, 25, 34, 8},
    {kNoId, K::Label, "UrmshighH:", 18, 50, 38, 8},
    {kNoId, K::Label, "UrmslowH:", 164, 27, 35, 8},
    {kNoId, K::Label, "UrmshighL:", 164, 50, 36, 8},
    {kNoId, K::EtchedVLine, nullptr, 148, 11, 1, 56},
    {kNoId, K::Label, "Сеть -> Батареи", 48, 13, 58, 8},
    {kNoId, K::Label, "Батареи -> Сеть", 183, 13, 58, 8},
    {kVoltageHeading, K::Label, "Напряжение", 27, 3, 43, 8},
};

constexpr ToolDef kTools152[] = {
    {kUrmsLowL,
     "Действующее значение мин. допустимого входного напряжения при переходе с сети на "
     "аккумуляторы"},
    {kUrmsHighH,
     "Действующее значение макс. допустимого входного напряжения при переходе с сети на "
     "аккумуляторы"},
    {kUrmsLowH,
     "Действующее значение мин. допустимого входного напряжения при возврате с аккумуляторов "
     "на сеть"},
    {kUrmsHighL,
     "Действующее значение макс. допустимого входного напряжения при возврате с аккумуляторов "
     "на сеть"},
};

}  // namespace

c_tab_2::c_tab_2(QWidget* parent)
    : c_settings_tab(parent, {kTemplate152, kTools152, kVoltageHeading}) {}

}  // namespace zorvane
