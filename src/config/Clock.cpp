#include "Clock.h"

namespace parking {

namespace {

class SystemSteadyClock final : public SteadyClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

} // namespace

const SteadyClock& systemSteadyClock()
{
    static const SystemSteadyClock clock;
    return clock;
}

namespace {

// Digits at [from, from + count) of `text`, as a number; -1 if any is not one.
int digits(const QString& text, int from, int count)
{
    int v = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        v = v * 10 + (c.unicode() - '0');
    }
    return v;
}

} // namespace

QDateTime wallTime(const QDate& date, const QTime& time)
{
    return QDateTime(date, time, Qt::UTC);
}

QDateTime wallTime(const QDateTime& t)
{
    if (!t.isValid())
        return {};
    return t.timeSpec() == Qt::UTC ? t : QDateTime(t.date(), t.time(), Qt::UTC);
}

qint64 SettableClock::zoneOffsetMs(qint64 utcMs) const
{
    const qint64 checked = zoneCheckedAtMs_.load();
    if (checked < 0 || utcMs - checked >= ZoneCheckEveryMs || utcMs < checked) {
        zoneOffsetMs_.store(QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc() * qint64(1000));
        zoneCheckedAtMs_.store(utcMs);
    }
    return zoneOffsetMs_.load();
}

QDateTime SettableClock::now() const
{
    const qint64 utc = QDateTime::currentMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(utc + zoneOffsetMs(utc) + offsetMs_.load(), Qt::UTC);
}

void SettableClock::set(const QDateTime& instant)
{
    const qint64 utc = QDateTime::currentMSecsSinceEpoch();
    const qint64 wallNow = utc + zoneOffsetMs(utc);
    offsetMs_.store(wallTime(instant).toMSecsSinceEpoch() - wallNow);
}

QDateTime parseIsoInstant(const QString& text)
{
    if (text.size() != 19 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-') || text[10] != QLatin1Char(' ') ||
        text[13] != QLatin1Char(':') || text[16] != QLatin1Char(':'))
        return {};
    const QDate date(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
    const int h = digits(text, 11, 2), m = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!date.isValid() || h < 0 || m < 0 || s < 0 || !QTime::isValid(h, m, s) || digits(text, 0, 4) < 1)
        return {};
    return wallTime(date, QTime(h, m, s));
}

} // namespace parking
