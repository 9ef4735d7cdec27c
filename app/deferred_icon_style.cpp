#include "app/deferred_icon_style.h"

#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <QWidget>
#include <functional>
#include <utility>

namespace hopwise {
namespace {

// An icon that asks for the real one the first time anything needs its pixels or sizes.
class DeferredIconEngine : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> make) : m_make(std::move(make)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override
    {
        // Asked as the button is set up; the style has both icons, so the answer is known.
        return !m_make && m_icon.isNull();
    }
    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }
    QString key() const override { return QStringLiteral("DeferredIconEngine"); }

private:
    const QIcon& icon()
    {
        if (m_make) {
            m_icon = m_make();
            m_make = nullptr;
        }
        return m_icon;
    }

    std::function<QIcon()> m_make;
    QIcon m_icon;
};

} // namespace

QIcon DeferredIconStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                                      const QWidget* widget) const
{
    if (standardIcon != SP_ToolBarHorizontalExtensionButton &&
        standardIcon != SP_ToolBarVerticalExtensionButton) {
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    }
    // The option and the widget may be gone by the time the icon is drawn: the direction, all
    // an option says for these two, is kept.
    const bool hasOption = option != nullptr;
    const Qt::LayoutDirection direction = hasOption ? option->direction : Qt::LeftToRight;
    const QPointer<QWidget> owner(const_cast<QWidget*>(widget));
    // The wrapped style goes with this one: a widget whose style changed asks again.
    const QPointer<QStyle> base(baseStyle());
    return QIcon(new DeferredIconEngine([base, owner, standardIcon, hasOption, direction] {
        if (!base) {
            return QIcon();
        }
        QStyleOption kept;
        kept.direction = direction;
        return base->standardIcon(standardIcon, hasOption ? &kept : nullptr, owner.data());
    }));
}

} // namespace hopwise
