#include "ui/bitmaps.h"

#include <QFile>
#include <QLabel>
#include <map>

namespace zorvane {

const QPixmap& bitmap(int id) {
    static std::map<int, QPixmap> cache;
    auto it = cache.find(id);
    if (it == cache.end()) {
        QPixmap pixmap;
        for (const char* ext : {".svg", ".png"}) {
            const QString path = QStringLiteral(":/bitmaps/%1%2").arg(id).arg(QLatin1String(ext));
            if (QFile::exists(path) && pixmap.load(path))
                break;
        }
        it = cache.emplace(id, pixmap).first;
    }
    return it->second;
}

void set_bitmap(QLabel* picture, int id) {
    const QVariant current = picture->property("bitmap_id");
    if (current.isValid() && current.toInt() == id)
        return;
    picture->setProperty("bitmap_id", id);
    const QPixmap& pixmap = bitmap(id);
    picture->setPixmap(pixmap);
    // A picture control takes the size of its bitmap unless it centres the
    // image in a fixed frame (the lamps).
    if (!(picture->alignment() & Qt::AlignHCenter) && !pixmap.isNull()) {
        picture->resize(pixmap.size());
    }
}

}  // namespace zorvane
