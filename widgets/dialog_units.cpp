#include "widgets/dialog_units.h"

#include <QFontMetrics>
#include <algorithm>

namespace hopwise {
namespace {

// value * numerator / denominator rounded to the nearest integer, as dialog managers scale.
int scaleRounded(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

// The average width is that of the 52 Latin letters, as dialog managers measure it, not the
// font's own average-width field: for the proportional fonts of a Linux desktop that field is
// well below the width of ordinary text, and labels laid out with it come out cut short.
int letterAverageWidth(const QFont& font)
{
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return (QFontMetrics(font).horizontalAdvance(kLetters) / 26 + 1) / 2;
}

constexpr int kDialogFontPixels = 14;

} // namespace

QFont DialogFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kDialogFontPixels);
    return font;
}

DialogUnits::DialogUnits(const QFont& font)
    : DialogUnits(letterAverageWidth(font), QFontMetrics(font).height())
{
}

// A font without metrics (none installed on a bare offscreen platform) must not collapse the
// layout to nothing.
DialogUnits::DialogUnits(int averageCharWidth, int charHeight)
    : m_averageCharWidth(std::max(averageCharWidth, 1)), m_charHeight(std::max(charHeight, 1))
{
}

int DialogUnits::toPixelsX(int dialogUnits) const
{
    return scaleRounded(dialogUnits, m_averageCharWidth, 4);
}

int DialogUnits::toPixelsY(int dialogUnits) const
{
    return scaleRounded(dialogUnits, m_charHeight, 8);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const
{
    return {toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height)};
}

} // namespace hopwise
