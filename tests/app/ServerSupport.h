#pragma once
// What the tests of the program against the PostgreSQL test server share:
// a site's configuration, tracks, the server's own commands, and a fixture
// with the installation's rows.
#include "ProcessSupport.h"
#include "SiteConfig.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QProcess>

#include <memory>

namespace parking::test {

inline QString configFor(const QString& folder, const QString& sid, const QString& name = QStringLiteral("Rivalto.ini"))
{
    return test::writeSiteConfig(folder, sid, 3, QStringLiteral("[Registro]\nDiario=%1.journal\n").arg(name), name);
}

inline QString track(int subscriber)
{
    return QStringLiteral("ABC07XXXXX%1Z").arg(subscriber, 5, 10, QLatin1Char('0'));
}

// The PostgreSQL test server's folder (scripts/pg-test-server.sh).
inline QString serverFolder()
{
    return QFileInfo(qEnvironmentVariable("ODBCINI")).absolutePath();
}

inline void serverCommand(const char* command)
{
    QProcess p;
    p.start(QStringLiteral(PARKING_SOURCE_DIR "/scripts/pg-test-server.sh"), {QLatin1String(command), serverFolder()});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << QString::fromUtf8(p.readAllStandardError()).toStdString();
}

class OnPostgres : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (testBackend() != Backend::PostgreSQL)
            GTEST_SKIP() << "needs the PostgreSQL test server";
        db = std::make_unique<TempDatabase>(QDateTime::currentDateTime(), Backend::PostgreSQL);
        db->exec(QStringLiteral("INSERT INTO Lector VALUES (3, 2, 'sim:in', 'sim:out', 'BIENVENIDO', 'TARJETA NO VALIDA', "
                                "'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')"));
        for (int code = 1; code <= 200; ++code)
            db->exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,%1,2)").arg(code));
    }
    int scalar(const QString& sql) { return db->scalar(sql).toInt(); }
    // Installation 3 with 10 spaces free of 100, and subscribers 2 and 3
    // inside since a moment ago.
    void seedGateWithTwoInside()
    {
        db->exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3, 'PISCINA', 100, 10)"));
        for (int code : {2, 3})
            db->exec(QStringLiteral("INSERT INTO Movimientos_Parking VALUES (3,%1,7,LOCALTIMESTAMP(0) - INTERVAL '1 second',NULL)")
                         .arg(code));
    }
    std::unique_ptr<TempDatabase> db;
    QTemporaryDir dir;
};

} // namespace parking::test
