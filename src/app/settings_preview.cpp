#include "app/settings_preview.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/display_format.h"

namespace zorvane {

namespace {

enum Column { kMark, kName, kDevice, kFile, kUnit, kColumns };

const QColor kChangedBackground(255, 240, 190);

QString value_text(const FileSetting& setting, uint16_t wire) {
    return QString::fromStdString(format_file_value(setting, wire));
}

}  // namespace

SettingsPreviewDialog::SettingsPreviewDialog(const QString& source, std::vector<SettingDiff> rows,
                                             QWidget* parent)
    : QDialog(parent), m_rows(std::move(rows)) {
    setWindowTitle(QStringLiteral("Загрузка настроек из файла"));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(source, this);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    m_table = new QTableWidget(static_cast<int>(m_rows.size()), kColumns, this);
    m_table->setHorizontalHeaderLabels({QString(), QStringLiteral("Параметр"),
                                        QStringLiteral("В устройстве"), QStringLiteral("В файле"),
                                        QString()});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    for (int r = 0; r < static_cast<int>(m_rows.size()); ++r) {
        const SettingDiff& row = m_rows[static_cast<size_t>(r)];
        const bool changed = row.changed();
        m_changed += changed ? 1 : 0;
        // Values as the file writes them, in the device's precision and unit.
        const QString items[kColumns] = {
            changed ? QStringLiteral("●") : QString(), QString::fromUtf8(row.setting->name),
            value_text(*row.setting, row.device),
            row.file ? value_text(*row.setting, *row.file) : QStringLiteral("нет в файле"),
            window_unit(row.setting->unit)};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(items[c]);
            item->setTextAlignment(c == kDevice || c == kFile ? Qt::AlignRight | Qt::AlignVCenter
                                                              : Qt::AlignLeft | Qt::AlignVCenter);
            if (c == kName)
                item->setToolTip(QString::fromUtf8(row.setting->variable->description));
            if (!row.applies) {
                item->setForeground(Qt::gray);
                item->setToolTip(
                    QStringLiteral("Не используется при этих настройках и не "
                                   "записывается"));
            }
            if (changed) {
                QFont font = item->font();
                font.setBold(true);
                item->setFont(font);
                item->setBackground(kChangedBackground);
            }
            m_table->setItem(r, c, item);
        }
    }
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Every setting in view without scrolling, on any screen a technician
    // uses (a family has about twenty).
    const int rows_height = m_table->verticalHeader()->length() +
                            m_table->horizontalHeader()->sizeHint().height() +
                            2 * m_table->frameWidth();
    m_table->setMinimumHeight(std::min(rows_height, 560));
    m_table->setMinimumWidth(m_table->horizontalHeader()->length() + 2 * m_table->frameWidth() +
                             24);
    layout->addWidget(m_table);

    auto* summary = new QLabel(
        m_changed == 0
            ? QStringLiteral("Настройки в файле совпадают с настройками устройства: записывать "
                             "нечего.")
            : QStringLiteral("Будут записаны отмеченные параметры: %1. Параметры, которых нет в "
                             "файле, останутся без изменений.")
                  .arg(m_changed),
        this);
    summary->setWordWrap(true);
    layout->addWidget(summary);

    auto* buttons = new QDialogButtonBox(this);
    m_write = buttons->addButton(QStringLiteral("Записать"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    m_write->setEnabled(m_changed > 0);
    // Writing is never the default: Enter in the preview cancels.
    m_write->setAutoDefault(false);
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    for (QAbstractButton* b : buttons->buttons()) {
        if (buttons->buttonRole(b) == QDialogButtonBox::RejectRole)
            cancel = qobject_cast<QPushButton*>(b);
    }
    if (cancel != nullptr) {
        cancel->setDefault(true);
        cancel->setFocus();
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(460);
    adjustSize();
}

QString settings_apply_report(const ApplyResult& result) {
    QStringList lines;
    for (const AppliedSetting& s : result.settings) {
        const QString name = QString::fromUtf8(s.setting->name);
        if (s.to_write && !s.sent)
            lines << QStringLiteral("%1: не записан").arg(name);
        else if (!s.held)
            lines << QStringLiteral("%1: не прочитан после записи").arg(name);
        else if (s.confirmed())
            lines << QStringLiteral("%1: подтверждено").arg(name);
        else
            lines << QStringLiteral("%1: устройство хранит %2")
                         .arg(name, value_text(*s.setting, *s.held));
    }
    if (!result.all_sent || !result.read_back.complete())
        lines << QStringLiteral("Устройство перестало отвечать. Проверьте соединительный кабель.");
    return lines.join(QLatin1Char('\n'));
}

}  // namespace zorvane
