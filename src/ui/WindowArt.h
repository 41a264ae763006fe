#pragma once
// What the operator window draws for itself: the lights, the program's icon,
// and the fonts it asks for (or the nearest the machine has).
#include <QFont>
#include <QIcon>
#include <QPixmap>

namespace parking {

// The named face, or `fallback` when the machine lacks it.
QFont namedFont(const char* family, const char* fallback, qreal points, bool bold);
QPixmap greenLight();
// Red, with a white bar across.
QPixmap redLight();
QIcon programIcon();

} // namespace parking
