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

QDateTime parseDateText(const QString& text)
{
    // Read as written, with no time-zone rule in the way (a time in the
    // spring-forward gap is a valid stored reading).
    const QString t = text.trimmed();
    const qsizetype split = t.indexOf(QLatin1Char(t.contains(QLatin1Char('T')) ? 'T' : ' '));
    if (split == 10) {
        const QDate day = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
        const QString rest = t.mid(11);
        for (const QString& f : {QStringLiteral("HH:mm:ss"), QStringLiteral("HH:mm:ss.zzz"), QStringLiteral("HH:mm")}) {
            const QTime time = QTime::fromString(rest, f);
            if (day.isValid() && time.isValid())
                return wallTime(day, time);
        }
        return {};
    }
    const QDate day = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    if (day.isValid())
        return wallTime(day, QTime(0, 0));
    const QTime time = QTime::fromString(t, QStringLiteral("HH:mm:ss"));
    if (time.isValid())
        return wallTime(QDate(1899, 12, 30), time);
    return {};
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
