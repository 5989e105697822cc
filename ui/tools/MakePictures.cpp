// Draws the program's pictures at build time: the splash picture (448 x 336, 256 colours) and
// the application icon. The Windows program takes the same pictures as resources: the splash
// picture as a 256-colour bitmap and the icon as an icon file of several sizes.
// Usage: MakePictures <splash.png> <icon.png> [<splash.bmp> <icon.ico>]
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QList>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A few sine rows that suggest sound turning into samples.
void DrawWaves(QPainter& p, const QRectF& area, int rows, double phase)
{
    for (int row = 0; row < rows; ++row) {
        QPainterPath wave;
        const double y0 = area.top() + area.height() * (row + 1) / (rows + 1);
        const double amplitude = area.height() / (rows + 1) * 0.45;
        for (int x = 0; x <= int(area.width()); x += 2) {
            const double t = x / area.width();
            const double y = y0 + amplitude * std::sin(t * 6.283 * (2 + row) + phase + row) *
                                      std::sin(t * 3.1416);
            if (x == 0)
                wave.moveTo(area.left() + x, y);
            else
                wave.lineTo(area.left() + x, y);
        }
        QColor colour = QColor::fromHsv((190 + row * 25) % 360, 140, 255, 110);
        p.setPen(QPen(colour, 2.0));
        p.drawPath(wave);
    }
}

// 256 colours, as the splash picture has always had: the most used colours of the picture
// (counted at 5 bits per channel) and error diffusion for the rest.
QImage ToPalette(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y) & 0xF8F8F8u];
    QList<QPair<int, QRgb>> ranked;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        ranked.append({it.value(), it.key()});
    std::sort(ranked.begin(), ranked.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    QList<QRgb> palette;
    for (qsizetype i = 0; i < ranked.size() && palette.size() < 256; ++i)
        palette.append(ranked[i].second | 0xFF040404u);
    return image.convertToFormat(QImage::Format_Indexed8, palette, Qt::DiffuseDither);
}

QImage Splash()
{
    QImage image(448, 336, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 336);
    sky.setColorAt(0.0, QColor(18, 32, 74));
    sky.setColorAt(0.55, QColor(44, 28, 92));
    sky.setColorAt(1.0, QColor(10, 12, 30));
    p.fillRect(image.rect(), sky);
    QRadialGradient glow(QPointF(224, 120), 220);
    glow.setColorAt(0.0, QColor(120, 160, 255, 90));
    glow.setColorAt(1.0, QColor(120, 160, 255, 0));
    p.fillRect(image.rect(), glow);
    DrawWaves(p, QRectF(0, 30, 448, 150), 4, 0.7);

    // Sample bars: what comes out of the decoder.
    for (int i = 0; i < 56; ++i) {
        const double h = 10 + 26 * std::fabs(std::sin(i * 0.37) * std::cos(i * 0.11));
        p.fillRect(QRectF(8 + i * 7.8, 300 - h, 5, h), QColor(255, 200, 90, 150));
    }

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(46);
    title.setBold(true);
    p.setFont(title);
    const QRectF titleBox(0, 112, 448, 64);
    p.setPen(QColor(0, 0, 0, 140));
    p.drawText(titleBox.translated(3, 3), Qt::AlignCenter, QStringLiteral("Pellan Decoder"));
    p.setPen(Qt::white);
    p.drawText(titleBox, Qt::AlignCenter, QStringLiteral("Pellan Decoder"));
    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(15);
    p.setFont(subtitle);
    p.setPen(QColor(200, 215, 255));
    p.drawText(QRectF(0, 170, 448, 24), Qt::AlignCenter,
               QStringLiteral("KPI plug-ins  \u2192  WAV"));
    p.end();
    return ToPalette(image);
}

QImage Icon()
{
    QImage image(256, 256, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, 256);
    face.setColorAt(0.0, QColor(40, 70, 150));
    face.setColorAt(1.0, QColor(60, 30, 110));
    p.setBrush(face);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);
    DrawWaves(p, QRectF(20, 30, 216, 110), 3, 0.2);
    for (int i = 0; i < 12; ++i) {
        const double h = 18 + 50 * std::fabs(std::sin(i * 0.55));
        p.setBrush(QColor(255, 200, 90));
        p.drawRoundedRect(QRectF(32 + i * 16.5, 220 - h, 10, h), 3, 3);
    }
    p.end();
    return image;
}

// An icon file of PNG images (16 to 256 pixels), as the system has read since Windows Vista.
bool SaveIcon(const QImage& icon, const QString& path)
{
    const int sizes[] = {16, 24, 32, 48, 256};
    QList<QByteArray> images;
    for (int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                 .save(&buffer, "PNG"))
            return false;
        images.append(png);
    }
    QByteArray file;
    const auto put16 = [&file](quint16 v) { file.append(char(v & 0xFF)).append(char(v >> 8)); };
    const auto put32 = [&put16](quint32 v) {
        put16(quint16(v & 0xFFFF));
        put16(quint16(v >> 16));
    };
    put16(0); // reserved
    put16(1); // an icon
    put16(quint16(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const int size = sizes[i];
        file.append(char(size == 256 ? 0 : size)).append(char(size == 256 ? 0 : size));
        file.append(char(0)).append(char(0)); // no palette, reserved
        put16(1);                             // planes
        put16(32);                            // bits per pixel
        put32(quint32(images[i].size()));
        put32(offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray& png : images)
        file.append(png);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr,
                     "usage: MakePictures <splash.png> <icon.png> [<splash.bmp> <icon.ico>]\n");
        return 2;
    }
    QGuiApplication app(argc, argv); // the font database needs it
    const QImage splash = Splash();
    const QImage icon = Icon();
    bool saved = splash.save(QString::fromLocal8Bit(argv[1]), "PNG") &&
                 icon.save(QString::fromLocal8Bit(argv[2]), "PNG");
    if (argc == 5)
        saved = saved && splash.save(QString::fromLocal8Bit(argv[3]), "BMP") &&
                SaveIcon(icon, QString::fromLocal8Bit(argv[4]));
    if (!saved) {
        std::fprintf(stderr, "cannot write the pictures\n");
        return 1;
    }
    return 0;
}
