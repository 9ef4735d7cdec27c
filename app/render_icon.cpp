// Renders the scalable icon to the PNG sizes desktops look for, as SIZExSIZE/apps/hopwise.png
// under OUT_DIR (the layout of an icon theme such as hicolor).
//
//   hopwise-render-icon SVG OUT_DIR SIZE...

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: hopwise-render-icon SVG OUT_DIR SIZE...\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "hopwise-render-icon: can't read %s\n", argv[1]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
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
        if (!out.mkpath(folder) || !image.save(out.filePath(folder + "/hopwise.png"))) {
            std::fprintf(stderr, "hopwise-render-icon: can't write size %d\n", size);
            return 1;
        }
    }
    return 0;
}
