// Draws the program's flame mark as the PNG icons beside this file.
// Not part of the build; run it by hand when the mark changes:
//   g++ -std=c++20 -fPIC draw-icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw-icons
//   QT_QPA_PLATFORM=offscreen /tmp/draw-icons resources/icons
// Each size is drawn on its own (not scaled down from the largest), so the
// small sizes stay crisp.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

// A flame on a 1x1 square: round at the bottom, one tip leaning right.
QPainterPath flame(qreal scale, qreal lift)
{
    QPainterPath path;
    path.moveTo(0.56, 0.04 + lift);
    path.cubicTo(0.60, 0.24 + lift, 0.86, 0.36, 0.86, 0.64);
    path.cubicTo(0.86, 0.83, 0.70, 0.96, 0.50, 0.96);
    path.cubicTo(0.30, 0.96, 0.14, 0.83, 0.14, 0.64);
    path.cubicTo(0.14, 0.46, 0.28, 0.38, 0.34, 0.24);
    path.cubicTo(0.38, 0.36, 0.42, 0.42, 0.48, 0.44);
    path.cubicTo(0.46, 0.30, 0.50, 0.16, 0.56, 0.04 + lift);
    path.closeSubpath();
    QTransform transform;
    transform.translate(0.5, 0.96);
    transform.scale(scale, scale);
    transform.translate(-0.5, -0.96);
    return transform.map(path);
}

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size, size);

    QLinearGradient outerFill(0.5, 0.0, 0.5, 1.0);
    outerFill.setColorAt(0.0, QColor(0xf2, 0x4a, 0x10));
    outerFill.setColorAt(1.0, QColor(0xc4, 0x1e, 0x0a));
    // An outline keeps the mark visible on light and dark panels alike; at
    // 16 pixels it is one pixel wide.
    const qreal outline = std::max(1.0, size / 40.0) / size;
    painter.setPen(QPen(QColor(0x6e, 0x12, 0x06), outline));
    painter.setBrush(outerFill);
    painter.drawPath(flame(1.0, 0.0));

    QRadialGradient innerFill(0.5, 0.80, 0.40);
    innerFill.setColorAt(0.0, QColor(0xff, 0xf3, 0xa0));
    innerFill.setColorAt(1.0, QColor(0xff, 0xb0, 0x1e));
    painter.setPen(Qt::NoPen);
    painter.setBrush(innerFill);
    painter.drawPath(flame(0.56, 0.10));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString target = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder = target + QStringLiteral("/%1").arg(size);
        const QString file = folder + QStringLiteral("/brennwerk-editor.png");
        if (!QDir().mkpath(folder) || !drawIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
