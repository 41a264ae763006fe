#include "Clock.h"

namespace parking {

QDateTime SettableClock::now() const
{
    return QDateTime::currentDateTime().addMSecs(offsetMs_.load());
}

void SettableClock::set(const QDateTime& instant)
{
    offsetMs_.store(QDateTime::currentDateTime().msecsTo(instant));
}

QDateTime parseIsoInstant(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return t.isValid() ? t : QDateTime();
}

} // namespace parking
