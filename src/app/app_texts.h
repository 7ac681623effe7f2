// The window texts of the main window and its boxes (UTF-8).
#pragma once

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
inline constexpr const char* kHelpNoViewer =
    "Не удалось открыть файл справки:\n%1\nНа компьютере нет программы для просмотра HTML.";

}  // namespace zorvane::text
