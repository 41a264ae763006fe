// A reload (SIGHUP) of the running program: what changed is applied while
// both stations serve, a file that cannot be used is refused whole.
#include "HttpSupport.h"
#include "KeyHash.h"
#include "RunningStation.h"
#include "SqliteConnection.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <csignal>

using namespace parking::test;

namespace {

QByteArray basic(const QByteArray& name, const QByteArray& key)
{
    return "Authorization: Basic " + QByteArray(name + ':' + key).toBase64() + "\r\n";
}

QString operatorLine(const QString& name, const QByteArray& key)
{
    return name + QLatin1Char('=') + parking::KeyHash::make(key, 10)->text() + QLatin1Char('\n');
}

const QByteArray AnaKey = "la clave de Ana";
const QByteArray LuisKey = "la clave de Luis";

class Reload : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = freePort();
        station = std::make_unique<RunningStation>(section(port, operatorLine(QStringLiteral("ana"), AnaKey)));
        ASSERT_TRUE(station->waitFor(QStringLiteral("ESTADO: página de estado en http://127.0.0.1:"))) << station->out().toStdString();
        QFile ini(station->site().configPath);
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        original = QString::fromUtf8(ini.readAll());
    }
    static QString section(quint16 port, const QString& operators, const QString& extra = {})
    {
        return QStringLiteral("\n[Estado]\nPuerto=%1\n%2\n[Operadores]\n%3").arg(port).arg(extra, operators);
    }
    // The configuration as it started with `from` replaced by `to`, then a reload.
    void reloadWith(const QString& from, const QString& to)
    {
        QString text = original;
        ASSERT_TRUE(text.contains(from)) << from.toStdString();
        text.replace(from, to);
        writeFile(station->site().configPath, text);
        ASSERT_EQ(::kill(static_cast<pid_t>(station->pid()), SIGHUP), 0);
    }
    bool operates(quint16 at, const QByteArray& name, const QByteArray& key)
    {
        return get(at, "/api/status", basic(name, key)).head.contains("X-Console: operator");
    }
    void setLectorPorts(const QString& entrance, const QString& exit)
    {
        parking::ManualClock clock;
        parking::SqliteConnection db(clock, {});
        db.open(QStringLiteral("Data Source=sqlite:") + station->site().databasePath, {});
        db.execute(QStringLiteral("UPDATE Lector SET PARKING_ENTRADA = '%1', PARKING_SALIDA = '%2'").arg(entrance, exit));
    }

    quint16 port = 0;
    std::unique_ptr<RunningStation> station;
    QString original;
};

TEST_F(Reload, ANewOperatorAndAChangedReaderApplyWhileTheOtherReaderKeepsItsPort)
{
    EXPECT_TRUE(operates(port, "ana", AnaKey));
    EXPECT_FALSE(operates(port, "luis", LuisKey));
    setLectorPorts(QStringLiteral("sim:entrada"), QStringLiteral("sim:salida-nueva"));
    reloadWith(QStringLiteral("[Operadores]\n"), QStringLiteral("[Operadores]\n") + operatorLine(QStringLiteral("luis"), LuisKey));
    ASSERT_TRUE(station->waitFor(QStringLiteral("Configuración recargada: "))) << station->out().toStdString();
    const QString said = station->out().mid(station->out().indexOf(QStringLiteral("Configuración recargada: "))).section(QLatin1Char('\n'), 0, 0);
    EXPECT_TRUE(said.contains(QStringLiteral("[Operadores] (2 operadores)"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("lector de salida: sim:salida-nueva"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("lector de entrada"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("[Estado]"))) << "nothing else changed: " << said.toStdString();
    EXPECT_TRUE(operates(port, "luis", LuisKey));
    EXPECT_TRUE(operates(port, "ana", AnaKey));
    // The exit's reader was closed and opened on its new port; the
    // entrance's was left as it was.
    EXPECT_TRUE(station->out().contains(QStringLiteral("KBIOMAXctl2.OpenPortRem(sim:salida-nueva)")));
    EXPECT_EQ(station->out().count(QStringLiteral("KBIOMAXctl1.OpenPortRem(")), 1) << station->out().toStdString();
    // The stations serve on: the new operator opens the exit.
    const QByteArray body = R"({"station": 2})";
    const Reply opened = request(port, "POST /api/open HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                                           basic("luis", LuisKey) + "Content-Type: application/json\r\nContent-Length: " +
                                           QByteArray::number(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(opened.status, 200) << opened.body.toStdString();
    ASSERT_TRUE(station->waitFor(QStringLiteral("Apertura manual remota: salida por luis (desde 127.0.0.1)")));
    // Withdrawn: a line deleted and reloaded.
    original = QString::fromUtf8([&] {
        QFile ini(station->site().configPath);
        ini.open(QIODevice::ReadOnly);
        return ini.readAll();
    }());
    const QString anaLine = original.mid(original.indexOf(QStringLiteral("\nana=")) + 1).section(QLatin1Char('\n'), 0, 0);
    reloadWith(anaLine + QLatin1Char('\n'), QString());
    ASSERT_TRUE(station->waitFor(QStringLiteral("Configuración recargada: [Operadores] (1 operadores)")))
        << station->out().toStdString();
    EXPECT_FALSE(operates(port, "ana", AnaKey));
    EXPECT_TRUE(operates(port, "luis", LuisKey));
    EXPECT_EQ(station->stop(), 0) << station->out().toStdString();
    EXPECT_FALSE(station->out().contains(QString::fromUtf8(LuisKey)));
}

TEST_F(Reload, AFileThatCannotBeUsedIsRefusedWholeAndTheRunningOneStaysThenAGoodOneMovesThePage)
{
    // Each file adds an operator too: it must not be let in.
    const QString withLuis = QString(original).replace(
        QStringLiteral("[Operadores]\n"), QStringLiteral("[Operadores]\n") + operatorLine(QStringLiteral("luis"), LuisKey));
    const struct {
        const char* name;
        QString from;
        QString to;
        const char* reason;
    } cases[] = {
        {"a whole-number key that is not one", QStringLiteral("Instalacion=1"), QStringLiteral("Instalacion=uno"),
         "\"uno\" no es un número entero"},
        {"an operator's key in the clear", QStringLiteral("[Operadores]\n"),
         QStringLiteral("[Operadores]\npedro=una-clave-en-claro\n"), "[Operadores] pedro: no es una huella"},
        {"a short operator key", QStringLiteral("[Operadores]\n"), QStringLiteral("ClaveOperador=corta\n[Operadores]\n"),
         "ClaveOperador tiene menos de 16"},
        {"a port taken by another program", QStringLiteral("Puerto=%1").arg(port), QStringLiteral("Puerto=%1"), "no se puede mover"},
    };
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    int refusals = 0;
    for (const auto& c : cases) {
        const QString to = c.to.contains(QStringLiteral("%1")) ? c.to.arg(taken.serverPort()) : c.to;
        original = withLuis;
        reloadWith(c.from, to);
        ASSERT_TRUE(station->waitFor(QStringLiteral("Configuración no recargada: "), ++refusals))
            << c.name << station->out().toStdString();
        const QString said = station->out().split(QLatin1Char('\n')).filter(QStringLiteral("Configuración no recargada: ")).last();
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.reason))) << c.name << ": " << said.toStdString();
        EXPECT_TRUE(said.endsWith(QStringLiteral("; sigue la anterior"))) << said.toStdString();
        EXPECT_FALSE(operates(port, "luis", LuisKey)) << c.name << ": half applied";
        EXPECT_TRUE(operates(port, "ana", AnaKey)) << c.name;
    }
    EXPECT_FALSE(station->out().contains(QStringLiteral("Configuración recargada")));

    const quint16 moved = freePort();
    original = withLuis;
    reloadWith(QStringLiteral("Puerto=%1").arg(port), QStringLiteral("Puerto=%1").arg(moved));
    ASSERT_TRUE(station->waitFor(QStringLiteral("Configuración recargada: [Estado] página de estado en el puerto %1, "
                                                "[Operadores] (2 operadores)")
                                     .arg(moved)))
        << station->out().toStdString();
    EXPECT_TRUE(operates(moved, "luis", LuisKey));
    EXPECT_EQ(get(port, "/api/status").status, 0) << "the old port still answers";
    EXPECT_EQ(station->stop(), 0) << station->out().toStdString();
}

} // namespace
