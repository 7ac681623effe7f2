// The images and the help document that the build ships with the program.
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QtTest>

#include "app/bitmaps.h"

namespace {

struct Size {
    int id, width, height;
};

// The sizes the page templates are laid out for.
constexpr Size kSizes[] = {
    {140, 15, 15}, {141, 15, 15}, {145, 15, 15},   {155, 15, 15},   {146, 61, 53},  {147, 61, 53},
    {148, 61, 53}, {149, 61, 53}, {150, 200, 160}, {169, 200, 160}, {166, 263, 63}, {174, 32, 32},
};

struct Place {
    int x, y, w, h;  // dialog units of a temperature field
};

struct Schematic {
    int id;
    int x, y;  // dialog units of the picture control
    std::vector<Place> places;
};

// The temperature fields of the KX and QM pages and the pictures they lie on.
const Schematic kSchematics[] = {
    {150,
     301,
     11,
     {{306, 15, 38, 12},
      {392, 15, 38, 12},
      {325, 35, 38, 12},
      {373, 35, 38, 12},
      {308, 56, 36, 12},
      {393, 56, 34, 12},
      {349, 75, 38, 12},
      {307, 92, 37, 12},
      {392, 92, 37, 12}}},
    {169,
     303,
     11,
     {{307, 17, 38, 12},
      {393, 17, 38, 12},
      {321, 42, 38, 12},
      {380, 43, 38, 12},
      {309, 68, 38, 12},
      {393, 68, 38, 12},
      {350, 89, 38, 12}}},
};

}  // namespace

class ResourceTest : public QObject {
    Q_OBJECT

  private slots:
    void every_image_loads_at_its_layout_size() {
        for (const Size& s : kSizes) {
            const QPixmap& pixmap = zorvane::bitmap(s.id);
            QVERIFY2(!pixmap.isNull(), qPrintable(QString::number(s.id)));
            QCOMPARE(pixmap.size(), QSize(s.width, s.height));
        }
        QVERIFY(zorvane::bitmap(999).isNull());
    }

    // A field lying off its framed place would cover the drawing or leave
    // its frame empty: each field's whole area must be inside a white place.
    void temperature_fields_lie_on_the_framed_places() {
        for (const Schematic& s : kSchematics) {
            const QImage image = zorvane::bitmap(s.id).toImage();
            const int px = s.x * 6 / 4, py = s.y * 13 / 8;
            for (const Place& p : s.places) {
                const QRect field(p.x * 6 / 4 - px, p.y * 13 / 8 - py, p.w * 6 / 4, p.h * 13 / 8);
                for (const QPoint& at : {field.topLeft(), field.topRight(), field.bottomLeft(),
                                         field.bottomRight(), field.center()}) {
                    QVERIFY2(image.pixelColor(at) == QColor(Qt::white),
                             qPrintable(QString("%1 at %2,%3").arg(s.id).arg(at.x()).arg(at.y())));
                }
            }
        }
    }

    void help_document_lies_next_to_the_program() {
        QFile help(QStringLiteral(ZORVANE_HELP_FILE));
        QVERIFY2(help.open(QIODevice::ReadOnly), ZORVANE_HELP_FILE);
        const QString text = QString::fromUtf8(help.readAll());
        QVERIFY(text.contains(QStringLiteral("<meta charset=\"utf-8\">")));
        QVERIFY(text.contains(QStringLiteral("Ресурсные данные")));
    }
};

QTEST_MAIN(ResourceTest)
#include "resource_test.moc"
