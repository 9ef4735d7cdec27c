#include "app/shell_resources.h"

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QResource>

#include "res/resource_ids.h"
#include "res/texts.h"
#include "widgets/qt_text.h"

// Resources compiled into a static library are only linked in when something refers to them.
static void initShellResources()
{
    Q_INIT_RESOURCE(hopwise);
    Q_INIT_RESOURCE(hopwise_window_icon);
}

namespace hopwise {
namespace {

// Qt reads XPM itself. A reader that may detect the format asks every image format plugin
// whether it knows the name first, which loads them all (and QtSvg, libjpeg, ... behind them)
// before the first paint.
QPixmap readBuiltInFormat(const QString& path, const char* format)
{
    QImageReader reader(path, format);
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

} // namespace

QString LoadResourceString(int id)
{
    if (id == res::kStrMainFrame) {
        // The frame's string holds newline-separated fields; the title is the first.
        return FromUtf8(res::kMainFrameString).section(QLatin1Char('\n'), 0, 0);
    }
    for (const auto& entry : res::kTooltipStrings) {
        if (entry.id == id) {
            return FromUtf8(entry.text);
        }
    }
    return {};
}

QIcon AppIcon()
{
    initShellResources();
    // Rendered from the SVG at build time, one size per resource ("16.rgba", ...): premultiplied
    // RGBA pixels, stored uncompressed and read where they lie: nothing to decode.
    QIcon icon;
    const QDir sizes(QStringLiteral(":/window_icon"));
    for (const QString& name : sizes.entryList(QDir::Files)) {
        const int size = name.section(QLatin1Char('.'), 0, 0).toInt();
        const qsizetype rowBytes = qsizetype(size) * 4;
        const QByteArray bytes = QResource(sizes.filePath(name)).uncompressedData();
        if (size > 0 && bytes.size() == rowBytes * size) {
            const QImage image(reinterpret_cast<const uchar*>(bytes.constData()), size, size,
                               rowBytes, QImage::Format_RGBA8888_Premultiplied);
            icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    return icon;
}

QPixmap AboutToolBitmap()
{
    initShellResources();
    return readBuiltInFormat(QStringLiteral(":/about16.xpm"), "xpm");
}

} // namespace hopwise
