// The statement rewriting for the backends: bare SYSDATE made a call, and
// the embedded database's day arithmetic. Neither may touch what is inside
// quotes (string literals, quoted names) or comments.
#include "FuzzSupport.h"
#include "OracleDialect.h"

using namespace parking;
using namespace parking::fuzz;

namespace {

// The quoted parts of `sql`, in order, quotes included; nullopt when a
// quote is left open (the rewriting then has nothing it must keep).
std::optional<QStringList> quoted(const QString& sql)
{
    QStringList parts;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('-') && i + 1 < sql.size() && sql[i + 1] == QLatin1Char('-')) {
            const qsizetype end = sql.indexOf(QLatin1Char('\n'), i);
            parts << sql.mid(i, end < 0 ? -1 : end - i);
            if (end < 0)
                break;
            i = end;
        } else if (c == QLatin1Char('/') && i + 1 < sql.size() && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            if (end < 0)
                return std::nullopt;
            parts << sql.mid(i, end + 2 - i);
            i = end + 1;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            qsizetype end = i + 1;
            for (;; ++end) {
                if (end >= sql.size())
                    return std::nullopt;
                if (sql[end] == c) {
                    if (end + 1 < sql.size() && sql[end + 1] == c) {
                        ++end; // a doubled quote stays inside
                        continue;
                    }
                    break;
                }
            }
            parts << sql.mid(i, end + 1 - i);
            i = end;
        }
    }
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString sql = text(data, size);
    const QString called = callBareSysdate(sql);
    const QString embedded = embeddedDayArithmetic(sql);
    require(callBareSysdate(called) == called, "making SYSDATE a call is done once");
    if (const auto before = quoted(sql)) {
        require(quoted(called) == before, "SYSDATE: quoted text and comments unchanged");
        require(quoted(embedded) == before, "day arithmetic: quoted text and comments unchanged");
    }
    if (!sql.contains(QLatin1String("SYSDATE"), Qt::CaseInsensitive))
        require(called == sql && embedded == sql, "a statement without SYSDATE is left alone");
    return 0;
}
