#include "pages/c_tab_3.h"

namespace zorvane {

namespace {

using K = ControlKind;
using namespace tab3_id;

// Template order is tab order; only the edits are tab stops.
constexpr ControlDef kTemplate153[] = {
    {kNoId, K::Label, "Длительность режима", 27, 3, 77, 8},
    {kFloatTime, K::Edit, nullptr, 82, 16, 54, 12},
    {kRFloatTime, K::Edit, nullptr, 82, 36, 54, 12},
    {kRAbsTime, K::Edit, nullptr, 82, 56, 54, 12},
    {kIchrgNom, K::Edit, nullptr, 215, 16, 54, 12},
    {kAbsEndFactor, K::Edit, nullptr, 215, 36, 54, 12},
    {kAbsTime, K::Edit, nullptr, 215, 56, 54, 12},
    {kFloatTimeLabel, K::Label, "FloatTime:", 18, 19, 34, 8},
    {kNoId, K::Label, "RFloatTime:", 18, 39, 39, 8},
    {kNoId, K::Label, "RAbsTime:", 18, 59, 35, 8},
    {kNoId, K::Label, "IchrgNom:", 164, 19, 34, 8},
    {kNoId, K::Label, "AbsEndFactor:", 164, 39, 48, 8},
    {kNoId, K::Label, "AbsTime:", 164, 59, 30, 8},
    {kNoId, K::EtchedVLine, nullptr, 148, 11, 1, 56},
};

constexpr ToolDef kTools153[] = {
    {kFloatTime, "Продолжительность режима <<Float>> при заряде аккумуляторов"},
    {kRFloatTime, "Продолжительность режима <<Reduced Float>> при заряде аккумуляторов"},
    {kRAbsTime, "Продолжительность режима <<Repeated Absorption>> при заряде аккумуляторов"},
    {kIchrgNom, "Ток заряда аккумуляторов"},
    {kAbsEndFactor,
     "Коэффициент падения тока заряда для определения перехода из режима заряда <<Absorption>> "
     "в <<Float>>"},
    {kAbsTime, "Максимальное время абсорбции при заряде аккумуляторов"},
};

}  // namespace

c_tab_3::c_tab_3(QWidget* parent)
    : c_settings_tab(parent, {kTemplate153, kTools153, kFloatTimeLabel}) {}

}  // namespace zorvane
