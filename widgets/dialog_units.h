#pragma once

// Dialog units to pixels, from the metrics of the font the dialog is shown in: a horizontal
// unit is a quarter of the font's average character width (over the 52 Latin letters), a vertical
// unit an eighth of its character height. Layouts given in dialog units therefore keep their
// proportions at any font size or screen scale.

#include <QFont>
#include <QRect>

namespace hopwise {

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
