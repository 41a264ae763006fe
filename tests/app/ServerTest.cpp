// The program against database servers: one that never answers, and the
// PostgreSQL test server going away, coming back and shared by two
// workstations.
#include "QtPrinters.h"
#include "HttpSupport.h"
#include "ProcessSupport.h"
#include "ServerSupport.h"
#include "SiteConfig.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

#include <random>

using namespace parking;
using namespace parking::test;

namespace {

TEST(Server, StartUpEndsWhenTheServerNeverAnswers)
{
    // Accepts connections (the system's backlog does) and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QTemporaryDir dir;
    const QString odbcIni = dir.filePath(QStringLiteral("odbc.ini"));
    writeFile(odbcIni, QStringLiteral("[silent]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=%1\nDatabase=x\n")
                           .arg(silent.serverPort()));
    qputenv("ODBCINI", odbcIni.toUtf8());
    const StationRun r = runStation({QStringLiteral("--headless"), QStringLiteral("--config"),
                                     configFor(dir.path(), QStringLiteral("silent"))},
                                    40000);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("> alert |No hay Conexión a la Base de Datos|"))) << r.out.toStdString();
    // runStation's own limit (40 s) catches a program that waits forever.
}

TEST_F(OnPostgres, OutageWithTrafficAtBothReaders)
{
    db->exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'PISCINA', 100, 10)"));
    // Twenty cars inside since a moment ago.
    for (int code = 1; code <= 20; ++code) {
        db->exec(QStringLiteral("INSERT INTO Movimientos_Parking VALUES (3,%1,7,LOCALTIMESTAMP(0) - INTERVAL '1 second',NULL)")
                     .arg(code));
    }
    QString script;
    for (int i = 0; i < 20; ++i) {
        script += QStringLiteral("%1 track 2 %2\n").arg(1.0 + i * 0.5).arg(track(1 + i));
        script += QStringLiteral("%1 track 1 %2\n").arg(1.25 + i * 0.5).arg(track(21 + i));
    }
    script += QStringLiteral("17 quit\n");
    const QString scriptPath = dir.filePath(QStringLiteral("traffic.txt"));
    writeFile(scriptPath, script);

    const QString config = configFor(dir.path(), QStringLiteral("parking_test"));
    const quint16 port = freePort();
    QFile ini(config);
    ini.open(QIODevice::Append);
    ini.write(QStringLiteral("[Estado]\nPuerto=%1\n").arg(port).toUtf8());
    ini.close();
    QProcess p;
    p.start(QStringLiteral(PARKING_STATION_BINARY),
            {QStringLiteral("--headless"), QStringLiteral("--config"), config, QStringLiteral("--script"), scriptPath});
    QString seen;
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> plazas 10")));
    // Traffic at both readers has begun: the server goes away under it.
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> relay 2 0 6"), 15000, 3)) << seen.toStdString();
    serverCommand("stop");
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> progress show"), 15000)) << seen.toStdString();
    // Exits go on during the outage; two of them wait in the journal.
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("DIARIO: pendiente salida"), 15000, 2)) << seen.toStdString();
    // The status page tells, without waiting on the database that is away.
    const QJsonObject database =
        QJsonDocument::fromJson(get(port, "/api/status").body).object()[QStringLiteral("database")].toObject();
    EXPECT_FALSE(database[QStringLiteral("connected")].toBool());
    EXPECT_FALSE(database[QStringLiteral("outageSince")].isNull());
    EXPECT_GE(database[QStringLiteral("journalPending")].toInt(), 2);
    serverCommand("resume");
    ASSERT_TRUE(waitForLine(p, seen, QStringLiteral("> progress hide"), 20000)) << seen.toStdString();
    ASSERT_TRUE(p.waitForFinished(30000));
    seen += QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0);

    const QStringList lines = seen.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.count(QStringLiteral("> progress show")), 1);
    EXPECT_EQ(lines.count(QStringLiteral("> relay 2 0 6")), 20) << "every exit opens";
    const int granted = static_cast<int>(lines.count(QStringLiteral("> relay 1 0 6")));
    EXPECT_LT(granted, 20) << "entrances during the outage are refused";
    EXPECT_FALSE(lines.filter(QStringLiteral("DIARIO: pendiente salida")).isEmpty());
    EXPECT_FALSE(lines.filter(QStringLiteral("escrituras pendientes guardadas")).isEmpty());

    // Nothing lost, nothing doubled.
    db->reopen();
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE Codigo <= 20 AND HORASALIDA IS NOT NULL")), 20);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE Codigo > 20")), granted);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE Codigo > 20 AND HORASALIDA IS NULL")), granted);
    EXPECT_EQ(scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")), 10 + 20 - granted);
}

TEST_F(OnPostgres, TwoWorkstationsShareTheCount)
{
    db->exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'PISCINA', 5000, 2500)"));
    const int cars = 1000;
    std::mt19937 rng(20261208); // the scripts are the same every run
    QList<QProcess*> stations;
    for (int w = 0; w < 2; ++w) {
        QString script;
        std::uniform_int_distribution<int> pick(1 + 100 * w, 100 + 100 * w);
        for (int i = 0; i < cars; ++i) {
            const int code = pick(rng);
            script += QStringLiteral("%1 track 1 %2\n%3 track 2 %2\n").arg(0.5 + i * 0.006).arg(track(code)).arg(0.503 + i * 0.006);
        }
        script += QStringLiteral("%1 quit\n").arg(0.5 + cars * 0.006 + 1);
        const QString name = QStringLiteral("station%1").arg(w);
        const QString scriptPath = dir.filePath(name + QStringLiteral(".txt"));
        writeFile(scriptPath, script);
        auto* p = new QProcess;
        p->start(QStringLiteral(PARKING_STATION_BINARY),
                 {QStringLiteral("--headless"), QStringLiteral("--config"),
                  configFor(dir.path(), QStringLiteral("parking_test"), name + QStringLiteral(".ini")),
                  QStringLiteral("--script"), scriptPath});
        stations << p;
    }
    int relays = 0;
    for (QProcess* p : stations) {
        EXPECT_TRUE(p->waitForFinished(180000));
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        relays += static_cast<int>(out.count(QStringLiteral("> relay")));
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.contains(QStringLiteral("ERROR")))
                ADD_FAILURE() << line.toStdString();
        delete p;
    }
    EXPECT_EQ(relays, 4 * cars);
    EXPECT_EQ(scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")), 2500);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking")), 2 * cars);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE HORASALIDA IS NULL")), 0);
}

} // namespace

namespace {

// The program's output and every file under `folder` but `except`.
QString everythingWritten(const QString& folder, const QString& out, const QString& except)
{
    QString all = out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == except)
            continue;
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            all += QString::fromUtf8(f.readAll());
    }
    return all;
}

} // namespace

TEST_F(OnPostgres, TheCredentialsFileChoosesTheAccountAndItsPasswordIsNeverShown)
{
    db->exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'PISCINA', 100, 10)"));
    const QString config = configFor(dir.path(), QStringLiteral("parking_test"));
    QFile ini(config);
    ini.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(ini.readAll()).replace(
        QStringLiteral("SID=parking_test\n"), QStringLiteral("SID=parking_test\nCredenciales=cuenta\n"));
    ini.close();
    writeFile(config, text + QStringLiteral("Carpeta=log\n"));
    const QString cred = dir.filePath(QStringLiteral("cuenta"));
    const QString wrong = QStringLiteral("Wr0ng-Pa55-7f3a9");
    writeFile(cred, QStringLiteral("usuario=vexlor1\nclave=") + wrong + QStringLiteral("\n"));
    QFile::setPermissions(cred, QFile::ReadOwner | QFile::WriteOwner);
    const QString quit = dir.filePath(QStringLiteral("quit.txt"));
    writeFile(quit, QStringLiteral("0.5 quit\n"));
    const QStringList args{QStringLiteral("--headless"), QStringLiteral("--config"), config, QStringLiteral("--script"), quit};

    // A wrong password: the server refuses (the built-in account would have
    // worked), start-up ends, and the password is nowhere.
    StationRun r = runStation(args, 40000);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("> alert |No hay Conexión a la Base de Datos|"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("password authentication failed"))) << r.out.toStdString();
    EXPECT_FALSE(everythingWritten(dir.path(), r.out, cred).contains(wrong)) << "the password reached an output";
    EXPECT_FALSE(everythingWritten(dir.path(), r.out, cred).contains(QStringLiteral("r7Tq2xLm"))) << "the built-in one too";

    // The right one, in a file others may read: refused before any attempt.
    writeFile(cred, QStringLiteral("usuario=vexlor1\nclave=r7Tq2xLm\n"));
    QFile::setPermissions(cred, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    r = runStation(args, 40000);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("lo pueden leer otros"))) << r.out.toStdString();

    // Private again: it connects.
    QFile::setPermissions(cred, QFile::ReadOwner | QFile::WriteOwner);
    r = runStation(args, 40000);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_FALSE(everythingWritten(dir.path(), r.out, cred).contains(QStringLiteral("r7Tq2xLm")));
}
