#include "app/dialog_units.h"

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

} // namespace

DialogUnits::DialogUnits(const QFont& font)
    : DialogUnits(QFontMetrics(font).averageCharWidth(), QFontMetrics(font).height())
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
