#include "pages/c_tab_4.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include "device/setting_write.h"

namespace zorvane {

namespace {

using K = ControlKind;
using namespace tab4_id;

// Template order is tab order: 1088, 1080, 1081, 1082, 1083, 1089, 1126.
// The combo box's height is its height with the list dropped down.
constexpr ControlDef kTemplate154[] = {
    {kEGenTypeLabel, K::Label, "EGenType:", 18, 19, 36, 8},
    {kNoId, K::Label, "EGenOnTime:", 18, 59, 48, 8},
    {kEGenUbat, K::ComboList, nullptr, 63, 36, 54, 30},
    {kEGenPmax, K::Edit, nullptr, 215, 16, 54, 12},
    {kEGenSleep, K::Edit, nullptr, 215, 36, 54, 12},
    {kEGenOnTime, K::Edit, nullptr, 63, 56, 54, 12},
    {kEGenWork, K::Edit, nullptr, 215, 56, 54, 12},
    {kTraining, K::CheckBox, nullptr, 273, 58, 10, 10},
    {kNoId, K::Label, "EGenPmax:", 164, 19, 38, 8},
    {kNoId, K::Label, "EGenSleep:", 164, 39, 38, 8},
    {kNoId, K::Label, "EGenWork:", 164, 59, 40, 8},
    {kNoId, K::EtchedVLine, nullptr, 148, 11, 1, 56},
    {kEGenType, K::Edit, nullptr, 63, 16, 54, 12},
    {kNoId, K::Label, "EGenUbat:", 18, 38, 36, 8},
};

// Item index and start mode coincide.
constexpr const char* kEGenUbatItems[] = {"0", "1"};

constexpr ToolDef kTools154[] = {
    {kEGenType, "Тип управления внешним генератором"},
    {kEGenUbat,
     "Алгоритм включения внешнего генератора: 0 – запуск генератора происходит после истечения "
     "времени EGenOnTime после пропадания сети, 1 – запуск генератора происходит по разряду "
     "аккумуляторов"},
    {kEGenOnTime, "Время после пропадания сети, через которое нужно запускать внешний генератор"},
    {kEGenPmax, "Номинальная мощность подключенного внешнего генератора"},
    {kEGenSleep, "Периодичность тренировки внешнего генератора"},
    {kEGenWork, "Продолжительность тренировочного пуска внешнего генератора"},
};

}  // namespace

c_tab_4::c_tab_4(QWidget* parent)
    : c_settings_tab(parent, {kTemplate154, kTools154, kEGenTypeLabel}) {
    auto* combo = get<QComboBox>(kEGenUbat);
    for (const char* item : kEGenUbatItems) combo->addItem(QString::fromUtf8(item));
    // Like the native list: nothing selected until the display selects.
    combo->setCurrentIndex(-1);
    combo->resize(combo->width(), combo->sizeHint().height());

    connect(combo, &QComboBox::activated, this, &c_tab_4::OnEGenUbatSelChange);
    connect(get<QCheckBox>(kTraining), &QCheckBox::clicked, this, &c_tab_4::OnTrainingClicked);
}

// Not guarded by the settings having been shown: the technician chose it.
void c_tab_4::OnEGenUbatSelChange(int index) {
    if (index < 0)
        return;
    auto* on_time = get<QLineEdit>(kEGenOnTime);
    if (index == 0) {
        on_time->setReadOnly(false);
    } else {
        // Started on battery discharge, the delay after a mains failure does
        // not apply.
        on_time->setReadOnly(true);
        on_time->setText(QString::fromUtf8(kZeroTimeText));
    }
    tell_refusal(
        write_fixed_u8(serial_port(), device_state, kEGenUbatWrite, static_cast<uint8_t>(index)));
}

void c_tab_4::OnTrainingClicked(bool checked) {
    get<QLineEdit>(kEGenWork)->setReadOnly(!checked);
    tell_refusal(write_fixed_u16(serial_port(), device_state, kEGenWorkWrite,
                                 checked ? kTrainingOnSeconds : 0));
}

void c_tab_4::tell_refusal(const SettingDecision& decision) {
    if (decision.kind != SettingDecision::Kind::Refused)
        return;
    const QString text = QString::fromStdString(decision.refusal);
    QTimer::singleShot(
        0, this, [this, text] { QMessageBox::warning(window(), QStringLiteral("Zorvane"), text); });
}

}  // namespace zorvane
