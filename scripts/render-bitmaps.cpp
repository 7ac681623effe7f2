// Renders the program's images to PNG at 1x and 4x with the same SVG renderer
// the program uses, and lays them out on one contact sheet for review. The
// schematics are also shown with the temperature fields drawn where the pages
// place them, so that the framed places can be checked against the fields.
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <vector>

namespace {

struct Field {
    int x, y, w, h;  // dialog units, as in the page templates
};

struct Schematic {
    int id;
    int pic_x, pic_y;  // dialog units of the picture control
    std::vector<Field> fields;
};

const std::vector<Schematic> kSchematics = {
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

const QColor kDialog(0xef, 0xef, 0xef);

QImage render(QSvgRenderer& svg, int scale) {
    QImage img(svg.defaultSize() * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    svg.render(&p);
    return img;
}

// The picture as the page shows it: on the dialog colour, with borderless
// white fields holding a sample reading at the places of the template.
QImage with_fields(QSvgRenderer& svg, const Schematic& s, int scale) {
    QImage img(svg.defaultSize() * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(kDialog);
    QPainter p(&img);
    svg.render(&p);
    p.scale(scale, scale);
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    p.setFont(font);
    const int px = s.pic_x * 6 / 4, py = s.pic_y * 13 / 8;
    for (const Field& f : s.fields) {
        QRect r(f.x * 6 / 4 - px, f.y * 13 / 8 - py, f.w * 6 / 4, f.h * 13 / 8);
        p.fillRect(r, Qt::white);
        p.setPen(Qt::black);
        p.drawText(r, Qt::AlignCenter, QString::fromUtf8("-12.3 ° C"));
    }
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SVG_DIR OUT_DIR CONTACT_SHEET.png\n", argv[0]);
        return 2;
    }
    const QDir in(argv[1]);
    QDir().mkpath(argv[2]);
    const QDir out(argv[2]);

    QStringList names = in.entryList({"*.svg"}, QDir::Files);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });

    struct Tile {
        QString caption;
        QImage image;
    };
    std::vector<std::vector<Tile>> rows;
    for (const QString& name : names) {
        QSvgRenderer svg(in.filePath(name));
        if (!svg.isValid()) {
            std::fprintf(stderr, "%s: not a valid SVG\n", qPrintable(name));
            return 1;
        }
        const QString id = QFileInfo(name).baseName();
        const QImage x1 = render(svg, 1), x4 = render(svg, 4);
        x1.save(out.filePath(id + ".png"));
        x4.save(out.filePath(id + "@4x.png"));
        const QSize sz = svg.defaultSize();
        std::vector<Tile> row;
        row.push_back({QString("%1  %2x%3").arg(id).arg(sz.width()).arg(sz.height()), x1});
        if (sz == QSize(32, 32)) {
            // The window icon is also drawn at 16 px in title bars and task lists.
            QImage small(16, 16, QImage::Format_ARGB32_Premultiplied);
            small.fill(Qt::transparent);
            QPainter p(&small);
            svg.render(&p);
            p.end();
            row.push_back({id + "  16x16", small});
        }
        const int big = sz.width() > 100 ? 2 : 4;
        row.push_back({QString("%1  x%2").arg(id).arg(big), big == 4 ? x4 : render(svg, 2)});
        for (const Schematic& s : kSchematics) {
            if (s.id == id.toInt()) {
                row.push_back({id + "  with fields", with_fields(svg, s, 1)});
                row.push_back({id + "  with fields x2", with_fields(svg, s, 2)});
            }
        }
        rows.push_back(std::move(row));
    }

    // The mode area of the KX page as laid out: captions and two pictures.
    {
        QImage area(150, 166, QImage::Format_ARGB32_Premultiplied);
        area.fill(kDialog);
        QPainter p(&area);
        QFont font("DejaVu Sans");
        font.setPixelSize(11);
        p.setFont(font);
        p.setPen(Qt::black);
        const auto at = [](int x, int y) { return QPoint((x - 320) * 6 / 4, (y - 110) * 13 / 8); };
        const struct {
            int x, y;
            const char* text;
        } labels[] = {{340, 114, "3-х фазный режим:"}, {324, 128, "Ведущий"},
                      {324, 148, "Ведомый"},           {347, 165, "Паралельный:"},
                      {324, 181, "Ведущий"},           {324, 199, "Ведомый"}};
        for (const auto& l : labels)
            p.drawText(QRect(at(l.x, l.y), QSize(120, 13)), Qt::AlignLeft | Qt::AlignTop,
                       QString::fromUtf8(l.text));
        QSvgRenderer three(in.filePath("147.svg")), parallel(in.filePath("148.svg"));
        if (three.isValid() && parallel.isValid()) {
            p.drawImage(at(358, 124), render(three, 1));
            p.drawImage(at(358, 176), render(parallel, 1));
            p.end();
            rows.push_back(
                {{"KX mode area", area}, {"KX mode area x2", area.scaled(area.size() * 2)}});
        }
    }

    // Lamps share one row; everything else gets a row of its own.
    std::vector<std::vector<Tile>> sheet_rows;
    std::vector<Tile> lamps;
    for (auto& row : rows) {
        if (row[0].image.width() <= 15) {
            for (auto& t : row) lamps.push_back(std::move(t));
        } else if (!sheet_rows.empty() && row[0].image.size() == QSize(61, 53) &&
                   sheet_rows.back()[0].image.size() == row[0].image.size()) {
            for (auto& t : row) sheet_rows.back().push_back(std::move(t));  // side by side
        } else {
            sheet_rows.push_back(std::move(row));
        }
    }
    if (!lamps.empty())
        sheet_rows.insert(sheet_rows.begin(), std::move(lamps));

    const int pad = 16, caption_h = 18;
    int width = 0, height = pad;
    for (const auto& row : sheet_rows) {
        int w = pad, h = 0;
        for (const Tile& t : row) {
            w += std::max(t.image.width(), 70) + pad;
            h = std::max(h, t.image.height());
        }
        width = std::max(width, w);
        height += caption_h + h + pad;
    }
    QImage sheet(width, height, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(kDialog);
    QPainter p(&sheet);
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    p.setFont(font);
    int y = pad;
    for (const auto& row : sheet_rows) {
        int x = pad, h = 0;
        for (const Tile& t : row) {
            p.setPen(QColor(0x44, 0x44, 0x44));
            p.drawText(x, y + 12, t.caption);
            p.drawImage(x, y + caption_h, t.image);
            x += std::max(t.image.width(), 70) + pad;
            h = std::max(h, t.image.height());
        }
        y += caption_h + h + pad;
    }
    p.end();
    if (!sheet.save(argv[3])) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
