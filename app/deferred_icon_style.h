#pragma once

// The window's style: the one Qt chose (or -style named), except that the extension buttons of
// the menu bar and the tool bar get their icons only when first drawn.

#include <QProxyStyle>

namespace hopwise {

// The menu bar asks for its extension button's icon as it is built, and Qt reads an icon file
// by asking every image format plugin whether it knows the name: that loads them all, and
// QtSvg, libjpeg and the rest behind them, before the first paint. The button shows only when
// the bar is too narrow for its menus, so the icon is fetched from the style when it is drawn.
class DeferredIconStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                       const QWidget* widget) const override;
};

} // namespace hopwise
