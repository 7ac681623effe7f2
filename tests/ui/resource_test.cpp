// The images and the help document that the build ships with the program.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <vector>

#include "ui/bitmaps.h"

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

TEST(Resources, EveryImageLoadsAtItsLayoutSize) {
    for (const Size& s : kSizes) {
        const QPixmap& pixmap = zorvane::bitmap(s.id);
        ASSERT_FALSE(pixmap.isNull()) << s.id;
        EXPECT_EQ(pixmap.size(), QSize(s.width, s.height)) << s.id;
    }
    EXPECT_TRUE(zorvane::bitmap(999).isNull());
}

// A field lying off its framed place would cover the drawing or leave its
// frame empty: each field's whole area must be inside a white place.
TEST(Resources, TemperatureFieldsLieOnTheFramedPlaces) {
    for (const Schematic& s : kSchematics) {
        const QImage image = zorvane::bitmap(s.id).toImage();
        const int px = s.x * 6 / 4, py = s.y * 13 / 8;
        for (const Place& p : s.places) {
            const QRect field(p.x * 6 / 4 - px, p.y * 13 / 8 - py, p.w * 6 / 4, p.h * 13 / 8);
            for (const QPoint& at : {field.topLeft(), field.topRight(), field.bottomLeft(),
                                     field.bottomRight(), field.center()}) {
                EXPECT_EQ(image.pixelColor(at), QColor(Qt::white))
                    << s.id << " at " << at.x() << "," << at.y();
            }
        }
    }
}

TEST(Resources, HelpDocumentLiesNextToTheProgram) {
    QFile help(QStringLiteral(ZORVANE_HELP_FILE));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly)) << ZORVANE_HELP_FILE;
    const QString text = QString::fromUtf8(help.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("<meta charset=\"utf-8\">")));
    EXPECT_TRUE(text.contains(QStringLiteral("Ресурсные данные")));
}
