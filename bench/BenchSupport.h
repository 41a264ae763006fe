#pragma once
// Small pieces the benchmarks share: percentiles, a connection that counts
// and remembers statements, query plans.
#include "Clock.h"
#include "Connection.h"
#include "OdbcConnection.h"
#include "SqliteConnection.h"

#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace parking::bench {

class CountingConnection final : public Connection {
public:
    explicit CountingConnection(Connection& inner) : inner_(inner) {}
    void open(const QString& cs, const ConnectionOptions& o) override { inner_.open(cs, o); }
    bool isOpen() const override { return inner_.isOpen(); }
    Dialect dialect() const override { return inner_.dialect(); }
    void execute(const QString& sql) override
    {
        note(sql);
        inner_.execute(sql);
    }
    std::unique_ptr<Recordset> query(const QString& sql, const Parameters& params) override
    {
        note(sql);
        return inner_.query(sql, params);
    }
    void run(const QString& sql, const Parameters& params) override
    {
        note(sql);
        inner_.run(sql, params);
    }
    void begin() override { inner_.begin(); }
    void commit() override { inner_.commit(); }
    void rollback() override { inner_.rollback(); }
    long statements = 0;
    // One example of each statement shape (numbers aside). Worked out here,
    // after the timing, so the benchmark does not measure itself.
    QStringList distinct() const
    {
        static const QRegularExpression number(QStringLiteral("\\d+"));
        QSet<QString> shapes;
        QStringList out;
        for (const QString& sql : seen_) {
            QString shape = sql;
            shape.replace(number, QStringLiteral("N"));
            if (!shapes.contains(shape)) {
                shapes.insert(shape);
                out << sql;
            }
        }
        return out;
    }

private:
    void note(const QString& sql)
    {
        ++statements;
        seen_.push_back(sql); // a shared copy: a reference count, no text
    }
    Connection& inner_;
    std::vector<QString> seen_;
};

struct Percentiles {
    double p50, p99, max;
};

inline Percentiles percentiles(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[std::min(us.size() - 1, static_cast<std::size_t>(q * static_cast<double>(us.size())))]; };
    return {at(0.50), at(0.99), us.back()};
}

// The site the benchmark reads: the server `odbc` names (odbc:DSN, loaded
// with the same data), else the embedded database at `path` on `server`'s
// clock.
inline std::unique_ptr<Connection> openSite(const QString& path, const QString& odbc, const Clock& server)
{
    std::unique_ptr<Connection> site;
    if (odbc.startsWith(QLatin1String("odbc:"))) {
        site = std::make_unique<OdbcConnection>();
        site->open(QStringLiteral("Password=r7Tq2xLm;User ID=vexlor1;Data Source=") + odbc.mid(5), {});
    } else {
        site = std::make_unique<SqliteConnection>(server, QString());
        site->open(QStringLiteral("User ID=vexlor1;Data Source=sqlite:") + path, {});
    }
    return site;
}

} // namespace parking::bench
