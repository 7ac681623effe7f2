// Where the window's file dialogs open and which name they offer: the folder
// used last in this run (at first the documents folder), and a name that
// tells the unit and the day, MODEL_SERIAL_DATE.ext.
#pragma once

#include <QDate>
#include <QString>
#include <string>

#include "state/models.h"

namespace zorvane {

QString dialog_folder();
// Remembers the folder of a file the technician has just chosen.
void remember_dialog_folder(const QString& chosen_file);
// "KX-24_12345_2026-12-11.kxf"; characters a file name cannot hold on
// either system become '-'.
QString suggested_file_name(DeviceModel model, const std::string& serial, const QString& extension,
                            QDate date = QDate::currentDate());
// The same name in the dialog folder.
QString suggested_file_path(DeviceModel model, const std::string& serial, const QString& extension);

}  // namespace zorvane
