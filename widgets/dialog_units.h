#pragma once

// Dialog units to pixels, from the metrics of the font the dialog is shown in: a horizontal
// unit is a quarter of the font's average character width (over the 52 Latin letters), a vertical
// unit an eighth of its character height. Layouts given in dialog units therefore keep their
// proportions at any font size or screen scale.

#include <QFont>
#include <QRect>

namespace hopwise {

// The font the dialog templates are laid out and drawn in: DejaVu Sans (fontconfig's default
// sans-serif on Debian) at 14 pixels, for the templates' "System" 8. The templates leave their
// labels no more room than that font gave them, so the size is the smallest around the
// desktop's usual 12 pixels whose dialog units hold every text. At 12 pixels the letter average
// (7.4) rounds down to 7 and "Name/IP", "Max Hop" and "Num Trials" run past their controls; at
// 13 "Max Delay" does and "Num Trials" fills its own to the pixel. The size is in pixels, so it
// and the rounding stay the same under any scale factor or desktop font setting.
QFont DialogFont();

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int averageCharWidth, int charHeight);

    int toPixelsX(int dialogUnits) const;
    int toPixelsY(int dialogUnits) const;
    QRect toPixels(int x, int y, int width, int height) const;

    int averageCharWidth() const { return m_averageCharWidth; }
    int charHeight() const { return m_charHeight; }

private:
    int m_averageCharWidth;
    int m_charHeight;
};

} // namespace hopwise
