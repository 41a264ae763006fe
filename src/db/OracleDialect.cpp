#include "OracleDialect.h"

#include "Clock.h"

#include <QRegularExpression>

namespace parking {

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') || c == QLatin1Char('#');
}

// Where the quoted string or name that starts at `open` ends (one past its
// closing quote): at the next quote of its kind that is not doubled, or at
// the end of the text.
qsizetype quotedEnd(const QString& sql, qsizetype open)
{
    const QChar quote = sql[open];
    const qsizetype n = sql.size();
    qsizetype j = open + 1;
    while (j < n) {
        if (sql[j] == quote) {
            if (j + 1 < n && sql[j + 1] == quote) {
                j += 2;
                continue;
            }
            return j + 1;
        }
        ++j;
    }
    return n;
}

} // namespace

QString callBareSysdate(const QString& sql)
{
    static const QString word = QStringLiteral("SYSDATE");
    QString out;
    out.reserve(sql.size() + 16);
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            j = j < 0 ? n : j;
            out += QStringView(sql).mid(i, j - i);
            i = j;
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            qsizetype j = sql.indexOf(QStringLiteral("*/"), i + 2);
            j = j < 0 ? n : j + 2;
            out += QStringView(sql).mid(i, j - i);
            i = j;
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype j = quotedEnd(sql, i);
            out += QStringView(sql).mid(i, j - i);
            i = j;
            continue;
        }
        if (isWordChar(c)) {
            qsizetype j = i;
            while (j < n && isWordChar(sql[j]))
                ++j;
            const QStringView token = QStringView(sql).mid(i, j - i);
            out += token;
            if (token.compare(word, Qt::CaseInsensitive) == 0) {
                qsizetype k = j;
                while (k < n && sql[k].isSpace())
                    ++k;
                if (k >= n || sql[k] != QLatin1Char('('))
                    out += QLatin1String("()");
            }
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

QString embeddedDayArithmetic(const QString& sql)
{
    static const QRegularExpression pattern(QStringLiteral(R"(TRUNC\s*\(\s*SYSDATE\s*(\(\s*\))?\s*\)\s*\+\s*(\d{1,4})(?![.\d]))"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString out;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    qsizetype plainFrom = 0;
    auto flushPlain = [&](qsizetype to) {
        QString plain = sql.mid(plainFrom, to - plainFrom);
        plain.replace(pattern, QStringLiteral("ADD_DAYS(TRUNC(SYSDATE\\1), \\2)"));
        out += plain;
    };
    while (i < n) {
        const QChar c = sql[i];
        qsizetype end = -1;
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            end = quotedEnd(sql, i);
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            const qsizetype nl = sql.indexOf(QLatin1Char('\n'), i);
            end = nl < 0 ? n : nl;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype close = sql.indexOf(QStringLiteral("*/"), i + 2);
            end = close < 0 ? n : close + 2;
        }
        if (end < 0) {
            ++i;
            continue;
        }
        flushPlain(i);
        out += sql.mid(i, end - i);
        i = end;
        plainFrom = end;
    }
    flushPlain(n);
    return out;
}

namespace {

// `count` decimal digits at `from`, or -1.
int digitsAt(QStringView t, qsizetype from, int count)
{
    if (from + count > t.size())
        return -1;
    int v = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

// "hh:mm[:ss[.zzz]]" at `from` to the end; an invalid QTime otherwise.
QTime timeAt(QStringView t, qsizetype from, bool secondsRequired)
{
    const qsizetype n = t.size() - from;
    const int h = digitsAt(t, from, 2), m = digitsAt(t, from + 3, 2);
    if (n < 5 || t[from + 2] != u':' || h < 0 || m < 0)
        return {};
    if (n == 5)
        return secondsRequired ? QTime() : QTime(h, m);
    const int s = digitsAt(t, from + 6, 2);
    if (t[from + 5] != u':' || s < 0)
        return {};
    if (n == 8)
        return QTime(h, m, s);
    const int ms = digitsAt(t, from + 9, 3);
    if (n != 12 || t[from + 8] != u'.' || ms < 0)
        return {};
    return QTime(h, m, s, ms);
}

} // namespace

QDateTime parseDateText(const QString& text)
{
    // Read digit by digit in the few forms a stored date takes, with no
    // time-zone rule in the way (a time in the spring-forward gap is a valid
    // stored reading) and no look at the system's zone.
    const QStringView t = QStringView(text).trimmed();
    if (t.size() == 8 || (t.size() == 5 && t[2] == u':')) {
        const QTime time = timeAt(t, 0, true);
        return time.isValid() ? wallTime(QDate(1899, 12, 30), time) : QDateTime();
    }
    const int y = digitsAt(t, 0, 4), mo = digitsAt(t, 5, 2), d = digitsAt(t, 8, 2);
    if (t.size() < 10 || y < 1 || mo < 0 || d < 0 || t[4] != u'-' || t[7] != u'-')
        return {};
    const QDate day(y, mo, d);
    if (!day.isValid())
        return {};
    if (t.size() == 10)
        return wallTime(day, QTime(0, 0));
    if (t[10] != u' ' && t[10] != u'T')
        return {};
    const QTime time = timeAt(t, 11, false);
    return time.isValid() ? wallTime(day, time) : QDateTime();
}

QString dateText(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString oracleToChar(const QDateTime& t, const QString& format)
{
    struct Element {
        const char* name;
        const char* qtFormat;
    };
    static const Element elements[] = {{"YYYY", "yyyy"}, {"HH24", "HH"}, {"MM", "MM"}, {"DD", "dd"},
                                       {"HH", "hh"},     {"MI", "mm"},   {"SS", "ss"}};
    QString out;
    qsizetype i = 0;
    while (i < format.size()) {
        bool matched = false;
        for (const Element& e : elements) {
            const QLatin1String name(e.name);
            if (QStringView(format).mid(i).startsWith(name, Qt::CaseInsensitive)) {
                out += t.toString(QLatin1String(e.qtFormat));
                i += name.size();
                matched = true;
                break;
            }
        }
        if (!matched)
            out += format[i++];
    }
    return out;
}

} // namespace parking
