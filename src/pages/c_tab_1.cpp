#include "pages/c_tab_1.h"

namespace zorvane {

namespace {

using K = ControlKind;
using namespace tab1_id;

// Template order is tab order; only the edits are tab stops.
constexpr ControlDef kTemplate151[] = {
    {kNoId, K::Label, "Напряжение", 27, 3, 43, 8},
    {kNoId, K::EtchedVLine, nullptr, 148, 11, 1, 56},
    {kUbatLow, K::Edit, nullptr, 82, 16, 54, 12},
    {kUbatMin, K::Edit, nullptr, 82, 36, 54, 12},
    {kUbatMinOn, K::Edit, nullptr, 82, 56, 54, 12},
    {kPmax, K::Edit, nullptr, 215, 16, 54, 12},
    {kUrmsNom, K::Edit, nullptr, 215, 36, 54, 12},
    {kUbatLowLabel, K::Label, "UbatLow:", 18, 19, 32, 8},
    {kNoId, K::Label, "UbatMin:", 18, 39, 30, 8},
    {kNoId, K::Label, "UbatMinOn: ", 18, 59, 41, 8},
    {kNoId, K::Label, "Pmax:", 164, 18, 21, 8},
    {kNoId, K::Label, "UrmsNom:", 164, 39, 34, 8},
};

constexpr ToolDef kTools151[] = {
    {kUbatLow,
     "Минимальное напряжение на аккумуляторах в режиме генерации, при котором зажигается "
     "индикатор <<BATTERY LOW>> и запускается внешний генератор (если такой режим выбран)"},
    {kUbatMin,
     "Минимальное напряжение на аккумуляторах в режиме генерации, при котором происходит "
     "выключение ИБП"},
    {kUbatMinOn,
     "Минимальное напряжение на аккумуляторах, при котором происходит включение генерации"},
    {kPmax, "Максимально допустимая полная мощность, выше которой происходит отключение нагрузки"},
    {kUrmsNom, "Действующее напряжение на выходе при работе от аккумуляторов"},
};

}  // namespace

c_tab_1::c_tab_1(QWidget* parent)
    : c_settings_tab(parent, {kTemplate151, kTools151, kUbatLowLabel}) {}

}  // namespace zorvane
