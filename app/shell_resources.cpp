#include "app/shell_resources.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include "res/resource_ids.h"
#include "res/texts.h"
#include "widgets/qt_text.h"

// Resources compiled into a static library are only linked in when something refers to them.
static void initShellResources()
{
    Q_INIT_RESOURCE(hopwise);
}

namespace hopwise {

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
    // Drawn from the vector source at whatever size and scale it is asked for; fixed sizes
    // only where Qt's SVG icon engine is missing.
    QIcon scalable(QStringLiteral(":/hopwise.svg"));
    if (!scalable.pixmap(QSize(64, 64)).isNull()) {
        return scalable;
    }
    QSvgRenderer renderer(QStringLiteral(":/hopwise.svg"));
    QIcon icon;
    if (!renderer.isValid()) {
        return icon;
    }
    for (const int size : {16, 20, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap AboutToolBitmap()
{
    initShellResources();
    return QPixmap(QStringLiteral(":/about16.xpm"));
}

} // namespace hopwise
