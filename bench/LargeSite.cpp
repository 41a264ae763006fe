#include "LargeSite.h"

#include "Clock.h"
#include "OracleDialect.h"
#include "SqliteConnection.h"

#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace parking::bench {

namespace {

void exec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "sqlite error";
        sqlite3_free(error);
        throw std::runtime_error(message + " in " + sql);
    }
}

class Insert {
public:
    Insert(sqlite3* db, const char* sql) : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
    }
    ~Insert() { sqlite3_finalize(stmt_); }
    Insert& i(int index, std::int64_t v)
    {
        sqlite3_bind_int64(stmt_, index, v);
        return *this;
    }
    Insert& t(int index, const QByteArray& v)
    {
        sqlite3_bind_text(stmt_, index, v.constData(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Insert& null(int index)
    {
        sqlite3_bind_null(stmt_, index);
        return *this;
    }
    void run()
    {
        if (sqlite3_step(stmt_) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db_));
        sqlite3_reset(stmt_);
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

QByteArray day(const QDate& d)
{
    return d.toString(QStringLiteral("yyyy-MM-dd 00:00:00")).toLatin1();
}

QByteArray stamp(const QDateTime& t)
{
    return dateText(t).toLatin1();
}

QByteArray hhmmss(int minutes)
{
    return QTime(0, 0).addSecs(minutes * 60).toString(QStringLiteral("HH:mm:ss")).toLatin1();
}

QString markerFor(const SiteSize& s, std::uint32_t seed)
{
    return QStringLiteral("%1/%2/%3/%4/%5/%6/v1").arg(s.subscribers).arg(s.movements).arg(s.receipts).arg(s.feeRows)
        .arg(s.enrolments).arg(seed);
}

} // namespace

SiteSize benchSiteSize()
{
    const int scale = std::max(1, qEnvironmentVariableIntValue("PARKING_BENCH_SCALE"));
    const SiteSize full;
    return {full.subscribers / scale, full.movements / scale, full.receipts / scale, full.feeRows / scale,
            full.enrolments / scale};
}

std::vector<SubscriberSample> makeLargeSite(const QString& path, const SiteSize& size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<SubscriberSample> subscribers;
    subscribers.reserve(static_cast<std::size_t>(size.subscribers));
    for (int c = 1; c <= size.subscribers; ++c) {
        const int roll = pick(0, 99);
        subscribers.push_back({c, roll < 60 ? 0 : roll < 90 ? 1 : 2});
    }

    const QString marker = markerFor(size, seed);
    QFile stamp_(path + QStringLiteral(".made"));
    if (QFile::exists(path) && stamp_.open(QIODevice::ReadOnly) && QString::fromUtf8(stamp_.readAll()) == marker)
        return subscribers;
    stamp_.close();
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".made"));

    QElapsedTimer took;
    took.start();
    ManualClock server(BenchNow);
    SqliteConnection::createDatabase(path, server);
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-400000;");
    exec(db, "DROP INDEX MOVIMIENTOS_ULTIMA; DROP INDEX MOVIMIENTOS_DIA; DROP INDEX Recibos_ABONADO;");
    exec(db, "BEGIN");

    const QDate today = BenchNow.date();
    exec(db, "INSERT INTO INSTALACIONES VALUES (1, 'CIUDAD DEPORTIVA', 400, 250)");
    exec(db, "INSERT INTO Lector VALUES (1, 2, 'sim:entrada', 'sim:salida', 'BIENVENIDO', 'TARJETA NO VALIDA', "
             "'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')");
    {
        Insert fee(db, "INSERT INTO Cuotas (CodInstalacion,CodCuota,HoraInicio1,HoraFin1,HoraInicio2,HoraFin2,HoraInicio3,HoraFin3,"
                       "HoraInicio4,HoraFin4,NUMACCESOS_MTO) VALUES (1,?,?,?,?,?,?,?,?,?,?)");
        for (int code = 1; code <= 60; ++code) {
            fee.i(1, code);
            for (int col = 0; col < 4; ++col) {
                const int start = pick(6 * 60, 12 * 60);
                fee.t(2 + 2 * col, hhmmss(start)).t(3 + 2 * col, hhmmss(start + pick(120, 600)));
            }
            if (code >= 33 && code <= 35)
                fee.i(10, pick(4, 20));
            else
                fee.null(10);
            fee.run();
        }
        Insert course(db, "INSERT INTO CURSOS (CodInstalacion,CodCurso,FecInicio,FecFin,FormaPago,HoraInicio1,HoraInicio2,HoraInicio3,"
                          "HoraInicio4,HoraInicio5,HoraInicio6,HoraInicio7,HoraFin1,HoraFin2,HoraFin3,HoraFin4,HoraFin5,HoraFin6,HoraFin7) "
                          "VALUES (1,?,?,?,1,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        for (int code = 1; code <= 400; ++code) {
            const QDate from = today.addDays(-pick(0, 700));
            course.i(1, code).t(2, day(from)).t(3, day(from.addDays(pick(60, 400))));
            for (int d = 0; d < 7; ++d) {
                if (pick(0, 2) == 0) {
                    course.null(4 + d).null(11 + d);
                } else {
                    const int start = pick(7 * 60, 21 * 60);
                    course.t(4 + d, hhmmss(start)).t(11 + d, hhmmss(start + 60));
                }
            }
            course.run();
        }
    }
    {
        Insert sub(db, "INSERT INTO ABONADOS VALUES (1,?,?,?,1,?,?)");
        for (const SubscriberSample& s : subscribers) {
            sub.i(1, s.code).t(2, QByteArray("ABONADO ") + QByteArray::number(s.code)).i(3, s.kind);
            if (pick(0, 9) == 0)
                sub.i(4, pick(1, size.subscribers));
            else
                sub.null(4);
            sub.t(5, QByteArray::number(100000 + s.code, 16).toUpper()).run();
        }
    }
    {
        Insert fee(db, "INSERT INTO MOVTOSCUOTAS1 VALUES (1,?,?,?,?)");
        for (int r = 0; r < size.feeRows; ++r) {
            const int code = pick(1, size.subscribers);
            const QDate from = today.addDays(-pick(0, 2500));
            const bool open = pick(0, 3) == 0;
            fee.i(1, code).t(2, day(from));
            if (open)
                fee.null(3);
            else
                fee.t(3, day(from.addDays(pick(30, 400))));
            fee.i(4, pick(1, 60)).run();
        }
        Insert enrol(db, "INSERT INTO MovtosCursos VALUES (1,?,?,1)");
        for (int r = 0; r < size.enrolments; ++r)
            enrol.i(1, pick(1, size.subscribers)).i(2, pick(1, 400)).run();
        Insert block(db, "INSERT INTO BLOQUEOS VALUES (1,?,1,?,?,NULL)");
        for (int r = 0; r < size.subscribers / 50; ++r) {
            const QDate from = today.addDays(-pick(0, 1000));
            block.i(1, pick(1, size.subscribers)).t(2, day(from));
            if (pick(0, 4) == 0)
                block.null(3);
            else
                block.t(3, day(from.addDays(pick(1, 60))));
            block.run();
        }
        Insert receipt(db, "INSERT INTO Recibos VALUES (?,1,?,35.0,?,?)");
        for (int r = 1; r <= size.receipts; ++r) {
            receipt.i(1, r).i(2, pick(1, size.subscribers)).t(3, day(today.addDays(-pick(0, 2500))))
                .i(4, pick(0, 99) < 3 ? pick(0, 89) : 95).run();
        }
    }
    {
        Insert movement(db, "INSERT INTO MOVIMIENTOS VALUES (1,?,1,?,?)");
        const QDateTime first(today.addDays(-2500), QTime(7, 0));
        for (int r = 0; r < size.movements; ++r) {
            const QDateTime when = first.addSecs(static_cast<qint64>(r) * 2500LL * 86400 / size.movements);
            movement.i(1, pick(1, size.subscribers)).t(2, day(when.date())).t(3, stamp(when)).run();
        }
    }
    exec(db, "COMMIT");
    exec(db, "CREATE INDEX MOVIMIENTOS_ULTIMA ON MOVIMIENTOS (CODIGO, INSTALACIONABONADO, HORAENTRADA);"
             "CREATE INDEX MOVIMIENTOS_DIA ON MOVIMIENTOS (CODIGO, CODINSTALACION, FECHA);"
             "CREATE INDEX Recibos_ABONADO ON Recibos (CodInstalacion, Codigo, CodDevolucion);");
    sqlite3_close(db);
    if (stamp_.open(QIODevice::WriteOnly))
        stamp_.write(marker.toUtf8());
    std::printf("generated %s in %.1f s\n", qPrintable(path), took.elapsed() / 1000.0);
    return subscribers;
}

} // namespace parking::bench
