#include "QtPrinters.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace parking;
using namespace parking::test;

namespace {

QDateTime at(int y, int m, int d, int hh, int mm, int ss)
{
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss));
}

struct DialectCase {
    QDateTime serverNow;
    const char* expression;
    const char* expected;
};

class DialectOnSqlite : public ::testing::TestWithParam<DialectCase> {};

TEST_P(DialectOnSqlite, AnswersAsOracleWould)
{
    const DialectCase& c = GetParam();
    TempDatabase db(c.serverNow);
    const QVariant v = db.scalar(QStringLiteral("SELECT %1 AS X FROM DUAL").arg(QString::fromUtf8(c.expression)));
    EXPECT_EQ(v.toString(), QString::fromUtf8(c.expected)) << c.expression;
}

INSTANTIATE_TEST_SUITE_P(Functions, DialectOnSqlite, ::testing::Values(
    DialectCase{at(2026, 3, 4, 10, 0, 0), "SYSDATE", "2026-03-04 10:00:00"},
    DialectCase{at(2026, 3, 4, 23, 59, 59), "TRUNC(SYSDATE)", "2026-03-04 00:00:00"},
    DialectCase{at(2026, 3, 5, 0, 0, 0), "TRUNC(SYSDATE)", "2026-03-05 00:00:00"},
    DialectCase{at(2026, 1, 31, 23, 59, 59), "TO_CHAR(SYSDATE,'DD/MM/YYYY')", "31/01/2026"},
    DialectCase{at(2026, 1, 31, 23, 59, 59), "TO_CHAR(SYSDATE,'MMYYYY')", "012026"},
    DialectCase{at(2026, 2, 1, 0, 0, 0), "TO_CHAR(SYSDATE,'MMYYYY')", "022026"},
    DialectCase{at(2024, 2, 29, 12, 0, 0), "TO_CHAR(SYSDATE,'DD/MM/YYYY')", "29/02/2024"},
    DialectCase{at(2026, 12, 31, 23, 59, 59), "TO_CHAR(TRUNC(SYSDATE),'MMYYYY')", "122026"},
    DialectCase{at(2026, 3, 4, 10, 0, 0), "TRUNC('2026-03-04 23:59:59') = TRUNC(SYSDATE)", "1"},
    DialectCase{at(2026, 3, 5, 0, 0, 0), "TRUNC('2026-03-04 23:59:59') = TRUNC(SYSDATE)", "0"},
    DialectCase{at(2026, 3, 4, 10, 0, 0), "'2026-03-04 00:00:00' <= TRUNC(SYSDATE)", "1"},
    DialectCase{at(2026, 3, 4, 10, 0, 0), "'2026-03-04 10:00:01' <= SYSDATE", "0"},
    DialectCase{at(2026, 3, 4, 10, 0, 0), "USER", "vexlor1"},
    DialectCase{at(2026, 3, 4, 10, 0, 0), "TRUNC(NULL) IS NULL", "1"}));

TEST(SqliteConnection, ServerClockIsReadAtEachStatement)
{
    TempDatabase db(at(2026, 3, 4, 23, 59, 59));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT TO_CHAR(SYSDATE,'DD/MM/YYYY') D FROM DUAL")).toString(), QStringLiteral("04/03/2026"));
    db.serverClock().advance(1);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT TO_CHAR(SYSDATE,'DD/MM/YYYY') D FROM DUAL")).toString(), QStringLiteral("05/03/2026"));
}

TEST(SqliteConnection, ProbeStatementRuns)
{
    TempDatabase db;
    EXPECT_NO_THROW(db.connection()->execute(QStringLiteral("SELECT USER FROM DUAL")));
}

TEST(SqliteConnection, RowsComeInOrderAndAReadPastThemFails)
{
    TempDatabase db;
    db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (1,'UNO',10,5), (2,'DOS',20,NULL)"));
    auto none = db.connection()->query(QStringLiteral("SELECT * FROM INSTALACIONES WHERE CodInstalacion = ?"), {qlonglong(9)});
    EXPECT_FALSE(none->hasRow());
    EXPECT_THROW(none->field(QStringLiteral("Nombre")), DatabaseError);

    auto rs = db.connection()->query(QStringLiteral("SELECT * FROM INSTALACIONES ORDER BY CodInstalacion"), {});
    ASSERT_EQ(rs->size(), 2u);
    EXPECT_EQ(rs->field(QStringLiteral("nombre")).toString(), QStringLiteral("UNO")); // any case
    EXPECT_EQ(toInt16(rs->field(QStringLiteral("Plazas_Libres"))), 5);
    EXPECT_THROW(rs->field(QStringLiteral("NoSuchColumn")), DatabaseError);
    EXPECT_TRUE(rs->field(QStringLiteral("PLAZAS_LIBRES"), 1).isNull());
    EXPECT_THROW(toInt16(rs->field(QStringLiteral("PLAZAS_LIBRES"), 1)), DatabaseError);
    EXPECT_THROW(rs->field(QStringLiteral("PLAZAS_LIBRES"), 2), DatabaseError);
}

TEST(SqliteConnection, DualNamesTheAccountWithoutTakingItAsSql)
{
    TempDatabase db;
    SqliteConnection c(db.serverClock(), db.folder());
    c.open(QStringLiteral("User ID=o'brien' AS USER, 'x;Data Source=sqlite:") + db.path(), {});
    EXPECT_EQ(c.query(QStringLiteral("SELECT * FROM DUAL"), {})->field(QStringLiteral("USER")).toString(),
              QStringLiteral("o'brien' AS USER, 'x"));
}

TEST(SqliteConnection, EntryTimeIsTheServersTimeOfTheInsert)
{
    TempDatabase db(at(2026, 3, 4, 23, 50, 0));
    db.exec(QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) VALUES (3,1234,7)"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT HORAENTRADA FROM Movimientos_Parking")).toString(),
              QStringLiteral("2026-03-04 23:50:00"));
    EXPECT_TRUE(db.scalar(QStringLiteral("SELECT HORASALIDA FROM Movimientos_Parking")).isNull());
}

TEST(SqliteConnection, DateColumnsRefuseTextOfAnotherForm)
{
    TempDatabase db;
    EXPECT_THROW(db.exec(QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (1,1,'2026-03-04',NULL,10)")), DatabaseError);
    EXPECT_THROW(db.exec(QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (1,1,'04/03/2026 00:00:00',NULL,10)")), DatabaseError);
    EXPECT_NO_THROW(db.exec(QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (1,1,'2026-03-04 00:00:00',NULL,10)")));
}

TEST(SqliteConnection, OpenFailsClearlyAndKeepsThePasswordOut)
{
    ManualClock clock;
    SqliteConnection missing(clock, QStringLiteral("/tmp"));
    try {
        missing.open(QStringLiteral("Password=r7Tq2xLm;Data Source=sqlite:/nonexistent/dir/x.db"), {});
        FAIL() << "opened a missing file";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("/nonexistent/dir/x.db")));
        EXPECT_FALSE(e.message().contains(QStringLiteral("r7Tq2xLm")));
    }
    EXPECT_FALSE(missing.isOpen());
    EXPECT_THROW(missing.execute(QStringLiteral("SELECT 1")), DatabaseError);

    SqliteConnection server(clock, {});
    try {
        server.open(QStringLiteral("Password=r7Tq2xLm;Data Source=ORCL"), {});
        FAIL() << "opened a server name";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("ORCL")));
        EXPECT_FALSE(e.message().contains(QStringLiteral("r7Tq2xLm")));
    }
}

TEST(SqliteConnection, FileThatIsNotADatabaseDoesNotOpen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("junk.db"));
    writeFile(path, QString(5000, QLatin1Char('j')));
    ManualClock clock;
    SqliteConnection c(clock, {});
    EXPECT_THROW(c.open(QStringLiteral("Data Source=sqlite:") + path, {}), DatabaseError);
    EXPECT_FALSE(c.isOpen());
}

TEST(SqliteConnection, RelativePathStartsAtTheConfigurationFolder)
{
    TempDatabase db;
    SqliteConnection c(db.serverClock(), db.folder());
    c.open(QStringLiteral("Data Source=sqlite:test.db"), {});
    EXPECT_TRUE(c.isOpen());
}

TEST(SqliteConnection, RowSetOutlivesItsConnection)
{
    TempDatabase db;
    db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (1,'UNO',10,5)"));
    std::unique_ptr<Recordset> rs;
    {
        auto other = db.openAnother();
        rs = other->query(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES"), {});
    }
    EXPECT_EQ(rs->field(QStringLiteral("PLAZAS_LIBRES")).toInt(), 5);
}

} // namespace
