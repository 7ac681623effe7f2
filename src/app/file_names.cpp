#include "app/file_names.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace zorvane {

namespace {

QString& last_folder() {
    static QString folder;
    return folder;
}

QString file_name_part(const QString& text) {
    QString out;
    for (const QChar c : text) {
        const bool bad =
            c.isSpace() || c.unicode() < 0x20 || QStringLiteral("\\/:*?\"<>|.").contains(c);
        out += bad ? QLatin1Char('-') : c;
    }
    return out;
}

}  // namespace

QString dialog_folder() {
    if (!last_folder().isEmpty() && QFileInfo(last_folder()).isDir())
        return last_folder();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

void remember_dialog_folder(const QString& chosen_file) {
    if (!chosen_file.isEmpty())
        last_folder() = QFileInfo(chosen_file).absolutePath();
}

QString suggested_file_name(DeviceModel model, const std::string& serial, const QString& extension,
                            QDate date) {
    return QStringLiteral("%1_%2_%3.%4")
        .arg(file_name_part(QString::fromUtf8(model_profile(model).name)),
             file_name_part(QString::fromStdString(serial)), date.toString(Qt::ISODate), extension);
}

QString suggested_file_path(DeviceModel model, const std::string& serial,
                            const QString& extension) {
    return QDir(dialog_folder()).filePath(suggested_file_name(model, serial, extension));
}

}  // namespace zorvane
