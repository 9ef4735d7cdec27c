#pragma once

// The shell's resources by id: the string table, the application icon and the tool bar bitmap.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace hopwise {

// String resource id, or an empty string for an id the table does not hold.
QString LoadResourceString(int id);

// Icon 128: pixels rendered from its vector source at build time, 16 to 128 pixels square.
QIcon AppIcon();
// Bitmap 128: the tool bar's About button, 16 x 16.
QPixmap AboutToolBitmap();

} // namespace hopwise
