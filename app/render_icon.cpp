// Renders the scalable icon to the PNG sizes desktops look for, as SIZExSIZE/apps/hopwise.png
// under OUT_DIR (the layout of an icon theme such as hicolor). With --rgba it writes
// SIZExSIZE/apps/hopwise.rgba instead: the bare pixels, premultiplied RGBA bytes row by row,
// which the window compiles in and shows without decoding anything.
//
//   hopwise-render-icon [--rgba] SVG OUT_DIR SIZE...

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstring>

namespace {

bool writeRgba(const QImage& image, const QString& path)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    for (int y = 0; y < rgba.height(); ++y) {
        const qint64 row = qint64(rgba.width()) * 4;
        if (out.write(reinterpret_cast<const char*>(rgba.constScanLine(y)), row) != row) {
            return false;
        }
    }
    return out.flush();
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    const bool rgba = argc > 1 && std::strcmp(argv[1], "--rgba") == 0;
    const int first = rgba ? 2 : 1;
    if (argc < first + 3) {
        std::fprintf(stderr, "usage: hopwise-render-icon [--rgba] SVG OUT_DIR SIZE...\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[first]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "hopwise-render-icon: can't read %s\n", argv[first]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[first + 1]));
    for (int i = first + 2; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        if (size <= 0) {
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = out.filePath(folder + (rgba ? "/hopwise.rgba" : "/hopwise.png"));
        if (!out.mkpath(folder) || !(rgba ? writeRgba(image, file) : image.save(file))) {
            std::fprintf(stderr, "hopwise-render-icon: can't write size %d\n", size);
            return 1;
        }
    }
    return 0;
}
