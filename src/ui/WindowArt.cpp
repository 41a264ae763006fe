#include "WindowArt.h"

#include <QFontDatabase>
#include <QPainter>

namespace parking {

namespace {

// A 16 x 16 disc; the red light also carries a white bar across.
QPixmap lightDisc(const QColor& fill, const QColor& rim, bool bar)
{
    QPixmap p(16, 16);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setBrush(fill);
    g.setPen(rim);
    g.drawEllipse(1, 1, 14, 14);
    if (bar)
        g.fillRect(3, 7, 10, 3, Qt::white);
    return p;
}

} // namespace

QFont namedFont(const char* family, const char* fallback, qreal points, bool bold)
{
    const QString name = QString::fromLatin1(family);
    QFont f(QFontDatabase::hasFamily(name) ? name : QString::fromLatin1(fallback));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QPixmap greenLight()
{
    return lightDisc(QColor(0, 190, 0), QColor(0, 110, 0), false);
}

QPixmap redLight()
{
    return lightDisc(QColor(220, 0, 0), QColor(140, 0, 0), true);
}

QIcon programIcon()
{
    QPixmap p(32, 32);
    p.fill(QColor(0, 0, 128));
    QPainter g(&p);
    g.setPen(Qt::white);
    QFont f = g.font();
    f.setBold(true);
    f.setPixelSize(26);
    g.setFont(f);
    g.drawText(p.rect(), Qt::AlignCenter, QStringLiteral("P"));
    return QIcon(p);
}



} // namespace parking
