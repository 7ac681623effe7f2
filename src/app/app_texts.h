// The window texts of the main window and its boxes (UTF-8).
#pragma once

#include <QtGlobal>

namespace zorvane::text {

inline constexpr const char* kAppName = "Zorvane";
inline constexpr const char* kSearchAnnouncement = "Будет произведён поиск устройств";
inline constexpr const char* kNoDevice =
    "Устройств не обнаружено. Проверте соеденительный кабель и перезапустите программу";
inline constexpr const char* kPagesFailed =
    "Окно программы не возможно создать, проверьте соединение с устройством, перезапустите ее";
inline constexpr const char* kProgramTrouble =
    "Возникли проблемы в работе программы, перезапустите ее";

// Over the page of a device that has stopped answering; %1 is the local time
// of its last answer.
inline constexpr const char* kNotAnsweringSince =
    "Устройство не отвечает с %1. Проверьте соединительный кабель";
inline constexpr const char* kNotAnswering =
    "Устройство не отвечает. Проверьте соединительный кабель";

// Tooltips of the main window's buttons.
inline constexpr const char* kAboutTip = "О программе";
inline constexpr const char* kGenerationTip = "Вкл/выкл генерации";
inline constexpr const char* kCountersTip = "Ресурсные данные устройства";
inline constexpr const char* kTrendTip = "Графики показаний и запись их в файл";

// The help document that ships next to the program.
inline constexpr const char* kHelpFile = "help.html";
inline constexpr const char* kHelpCaption = "Справка";
inline constexpr const char* kHelpMissing = "Файл справки не найден:\n%1";

// The answers of a box that asks before doing something ("Yes", "No").
inline constexpr const char* kYes = "Да";
inline constexpr const char* kNo = "Нет";

// Asked before the generation button switches the output off; %1 is the
// model, %2 the serial number, %3 the port number. ("Switching generation
// off", "Switch generation off? Device: %1, S/N: %2, port COM%3. The load
// connected to the device's output will lose power.")
inline constexpr const char* kGenerationOffCaption = "Выключение генерации";
inline constexpr const char* kGenerationOffQuestion =
    "Выключить генерацию?\n\nУстройство: %1, S/N: %2, порт COM%3.\n"
    "Нагрузка, подключённая к выходу устройства, останется без питания.";

// Settings files.
inline constexpr const char* kSettingsCaption = "Файл настроек";
inline constexpr const char* kSettingsNotRead = "Файл не удалось прочитать:\n%1\n%2";
inline constexpr const char* kSettingsRefused = "Файл настроек не принят, ничего не записано.";
inline constexpr const char* kSettingsOtherVoltage = "Загрузить настройки всё равно?";
inline constexpr const char* kSettingsNotAnswering =
    "Устройство не отвечает. Проверьте соединительный кабель.";
inline constexpr const char* kSettingsPortClosed = "Порт COM%1 не открывается.";
inline constexpr const char* kSettingsUnread =
    "Устройство не ответило на чтение параметра %1. Проверьте соединительный кабель.";
inline constexpr const char* kSettingsNothingWritten = "Ничего не записано.";
inline constexpr const char* kSettingsNotSaved = "Файл не сохранён.";
inline constexpr const char* kSettingsWriteFailed =
    "Файл не сохранён:\n%1\n%2\nПрежний файл, если он был, остался без изменений.";
inline constexpr const char* kSettingsSaved = "Настройки устройства сохранены в файл\n%1";
inline constexpr const char* kSettingsSource =
    "Файл: %1\nМодель %2, S/N: %3, сохранён %4\nУстройство: %5";
inline constexpr const char* kSettingsOtherSerial =
    "Файл сохранён с другого устройства (другой серийный номер).";

// The polled unit's port has failed and is tried again every second; %1 is
// the local time of the loss, %2 the port number. ("Link to the device lost
// at %1. Check the cable: port COM%2 is tried again every second, the values
// come back when the device answers.")
inline constexpr const char* kLinkLostAt =
    QT_TRANSLATE_NOOP("zorvane::CKorvellDlg",
                      "Связь с устройством потеряна в %1. Проверьте соединительный кабель: "
                      "порт COM%2 проверяется каждую секунду, показания вернутся, "
                      "когда устройство ответит");
// Another unit answered on that port after a loss; %1 is the port number, %2
// the new unit's caption, %3 the tab's caption before. ("Another device
// answers on port COM%1: %2. The tab "%3" now shows it.")
inline constexpr const char* kOtherUnitOnPort =
    QT_TRANSLATE_NOOP("zorvane::CKorvellDlg",
                      "На порту COM%1 отвечает другое устройство: %2.\n"
                      "Вкладка «%3» теперь показывает его.");

}  // namespace zorvane::text
