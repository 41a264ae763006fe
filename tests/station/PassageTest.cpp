// From a read at the reader to the barrier, on the real embedded database.
#include "QtPrinters.h"
#include "StationFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace parking;
using namespace parking::test;

namespace {

const QString Track1234 = QStringLiteral("ABC07XXXXX01234Z"); // subscriber 1234 of installation 7
QString msg(const char* text)
{
    return QString::fromLatin1(text).leftJustified(32);
}

class Passage : public StationFixture {
protected:
    void SetUp() override
    {
        seedInstallation(true, QStringLiteral("2"), true, QStringLiteral("PISCINA CUBIERTA"), 10, 20);
        // Subscriber 1234 of installation 7: neither fee nor course holder.
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,CODTARJETA) VALUES (7,1234,2,'FF')"));
        ASSERT_EQ(start(), StationController::StartUp::InService);
        takeTrace();
    }
    void setFree(int free, int capacity = 20)
    {
        db.exec(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = %1, PLAZAS_PARKING = %2").arg(free).arg(capacity));
    }
    int freeSpaces() const { return db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(); }
    int rows(const char* where = "1=1") const
    {
        return db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE ") + QLatin1String(where)).toInt();
    }
    void setClocks(const QDateTime& t)
    {
        workstationClock.set(t);
        db.serverClock().set(t);
    }
    void entrance(const QString& track = Track1234) { controller->reader(1).raiseTrackRead(track); }
    void exit(const QString& track = Track1234) { controller->reader(2).raiseTrackRead(track); }
};

TEST_F(Passage, GrantedEntranceAtTheLastFreeSpace)
{
    setFree(1);
    entrance();
    EXPECT_EQ(takeTrace(), (QStringList{
        QStringLiteral("Track: ABC07XXXXX01234ZLen: 16"), QStringLiteral("msId1: 1234 Instalacion:7"),
        QStringLiteral("ID = 1234"), QStringLiteral("> plazas 0"), QStringLiteral("> relay 1 0 6"), QStringLiteral("CloseRelay: 0"),
        QStringLiteral("> grid 0 1 1234 |") + msg("BIENVENIDO") + QStringLiteral("| black"),
        QStringLiteral("> display 1 |") + msg("BIENVENIDO") + QLatin1Char('|')}));
    EXPECT_EQ(freeSpaces(), 0);
    EXPECT_EQ(rows("CodInstalacion = 3 AND Codigo = 1234 AND INSTALACIONABONADO = 7 AND HORASALIDA IS NULL "
                   "AND HORAENTRADA = '2026-03-04 10:00:00'"), 1);
    EXPECT_TRUE(controller->station(1).restoreTimerActive());
    EXPECT_TRUE(controller->station(1).messageActive());
    EXPECT_EQ(controller->installation().lastAccessResult(), AccessResult::Granted);
    // PostgreSQL takes the movement and the count in one statement.
    const QString movement = db.backend() == Backend::PostgreSQL
                                 ? QStringLiteral("m AS (INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) SELECT 3,1234,7 FROM u)")
                                 : QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) VALUES (3,1234,7)");
    EXPECT_FALSE(recording->statements().filter(movement).isEmpty()) << recording->statements().join(QLatin1Char('\n')).toStdString();
}

struct Refusal {
    const char* name;
    QStringList rows;
    const char* now;
    int code;
    const char* shown; // nullptr: silent
};

class RefusedEntrance : public Passage, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedEntrance, LeavesTheBarrierShut)
{
    const Refusal& r = GetParam();
    db.exec(QStringLiteral("DELETE FROM ABONADOS"));
    for (const QString& sql : r.rows)
        db.exec(sql);
    setClocks(parseIsoInstant(QString::fromLatin1(r.now)));
    entrance();
    QStringList expected{QStringLiteral("Track: ABC07XXXXX01234ZLen: 16"), QStringLiteral("msId1: 1234 Instalacion:7")};
    if (r.shown) {
        expected << QStringLiteral("> display 1 |") + msg(r.shown) + QLatin1Char('|')
                 << QStringLiteral("> grid 0 1 1234 |") + msg(r.shown) + QStringLiteral("| red");
    }
    EXPECT_EQ(takeTrace(), expected);
    EXPECT_EQ(static_cast<int>(controller->installation().lastAccessResult()), r.code);
    EXPECT_EQ(freeSpaces(), 10);
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(controller->station(1).restoreTimerActive(), r.shown != nullptr);
}

INSTANTIATE_TEST_SUITE_P(Codes, RefusedEntrance, ::testing::Values(
    Refusal{"Unknown", {}, "2026-03-04 10:00:00", 1, "TARJETA NO VALIDA"},
    Refusal{"WeekendOutsideFee", {QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,0)"),
                                  QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (7,1234,'2026-01-01 00:00:00',NULL,10)"),
                                  QStringLiteral("INSERT INTO Cuotas (CodInstalacion,CodCuota,HoraInicio2,HoraFin2) VALUES (7,10,'09:00:00','10:00:00')")},
            "2026-03-07 12:00:00", 2, "FUERA DE HORARIO"},
    Refusal{"Receipts", {QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,2)"),
                         QStringLiteral("INSERT INTO Recibos VALUES (1,7,1234,1,'2026-03-01 00:00:00',0)")},
            "2026-03-04 10:00:00", 3, "RECIBOS PENDIENTES"},
    Refusal{"FeeNotCurrent", {QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,0)")},
            "2026-03-04 10:00:00", 4, "CUOTA NO VIGENTE"},
    Refusal{"BlockedIsSilent", {QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,2)"),
                                QStringLiteral("INSERT INTO BLOQUEOS VALUES (7,1234,1,'2026-03-01 00:00:00',NULL,NULL)")},
            "2026-03-04 10:00:00", 5, nullptr},
    Refusal{"WeekdayOutsideFeeIsSilent", {QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,0)"),
                                          QStringLiteral("INSERT INTO MOVTOSCUOTAS1 VALUES (7,1234,'2026-01-01 00:00:00',NULL,10)"),
                                          QStringLiteral("INSERT INTO Cuotas (CodInstalacion,CodCuota,HoraInicio1,HoraFin1) VALUES (7,10,'09:00:00','10:00:00')")},
            "2026-03-04 12:00:00", 6, nullptr},
    Refusal{"TooSoonIsSilent", {QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,2)"),
                                QStringLiteral("INSERT INTO MOVIMIENTOS VALUES (3,1234,7,'2026-03-04 00:00:00','2026-03-04 09:58:00')")},
            "2026-03-04 10:00:00", 7, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Passage, LongMessageIsCutToThirtyTwo)
{
    db.exec(QStringLiteral("DELETE FROM ABONADOS"));
    db.exec(QStringLiteral("UPDATE Lector SET MsjIDMal = '%1'").arg(QString(40, QLatin1Char('M'))));
    StationController::StartUp started = StationController::StartUp::Fatal;
    // A fresh station reads the changed row.
    controller = std::make_unique<StationController>(
        configuration(QDir(db.folder()).filePath(QStringLiteral("j2")), false), workstationClock,
        [this](const QString&) -> std::shared_ptr<Connection> { return db.makeConnection(); }, timers);
    controller->setTraceSink([this](const QString& l) { traceLines << l; });
    started = controller->start();
    ASSERT_EQ(started, StationController::StartUp::InService);
    takeTrace();
    entrance();
    EXPECT_TRUE(takeTrace().contains(QStringLiteral("> display 1 |") + QString(32, QLatin1Char('M')) + QLatin1Char('|')));
}

TEST_F(Passage, FullCarParkRefusesBeforeLookingAtTheSubscriber)
{
    for (int free : {0, -3}) {
        setFree(free);
        entrance();
        EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("Track: ABC07XXXXX01234ZLen: 16"),
                                            QStringLiteral("msId1: 1234 Instalacion:7"),
                                            QStringLiteral("> alert |NO HAY PLAZAS LIBRES|")}));
        EXPECT_EQ(controller->installation().freeSpaces(), free);
        EXPECT_EQ(freeSpaces(), free);
        EXPECT_EQ(rows(), 0);
    }
}

TEST_F(Passage, ExitOfAnUnknownCardStillOpens)
{
    setFree(19);
    controller->reader(2).raiseCardNumberRead(QStringLiteral(";0000000999999?"));
    EXPECT_EQ(takeTrace(), (QStringList{
        QStringLiteral("Track: F423FLen: 5"), QStringLiteral("msId2: 0 Instalacion:0"), QStringLiteral("ID = 0"),
        QStringLiteral("> plazas 20"), QStringLiteral("> relay 2 0 6"), QStringLiteral("CloseRelay: 0"),
        QStringLiteral("> grid 0 2 0 |") + msg("GRACIAS POR SU VISITA") + QStringLiteral("| black"),
        QStringLiteral("> display 2 |") + msg("GRACIAS POR SU VISITA") + QLatin1Char('|')}));
    EXPECT_EQ(freeSpaces(), 20);
    // A live exit: the server's clock, bound as a null date.
    const QString movement = QStringLiteral(
        "UPDATE MOVIMIENTOS_PARKING SET HORASALIDA = COALESCE(NULL, SYSDATE) WHERE CODINSTALACION = 3 AND CODIGO = 0 "
        "AND HORAENTRADA >= TRUNC(COALESCE(NULL, SYSDATE)) AND HORAENTRADA <= COALESCE(NULL, SYSDATE) AND HORASALIDA IS NULL");
    EXPECT_FALSE(recording->statements().filter(movement).isEmpty()) << recording->statements().join(QLatin1Char('\n')).toStdString();
}

TEST_F(Passage, ExitClosesEveryOpenRowOfTheDay)
{
    entrance();
    setClocks(QDateTime(QDate(2026, 3, 4), QTime(10, 30)));
    entrance();
    setClocks(QDateTime(QDate(2026, 3, 4), QTime(12, 0)));
    exit();
    EXPECT_EQ(rows("HORASALIDA = '2026-03-04 12:00:00'"), 2);
    EXPECT_EQ(freeSpaces(), 9);
}

TEST_F(Passage, ExitAfterMidnightFindsNoRow)
{
    setClocks(QDateTime(QDate(2026, 3, 4), QTime(23, 50)));
    entrance();
    setClocks(QDateTime(QDate(2026, 3, 5), QTime(0, 10)));
    exit();
    EXPECT_EQ(rows("HORASALIDA IS NULL"), 1);
    EXPECT_EQ(freeSpaces(), 10);
}

TEST_F(Passage, CardCodesAreLookedUpInHexadecimal)
{
    controller->reader(1).raiseCardNumberRead(QStringLiteral(";0000000000255?"));
    const QStringList trace = takeTrace();
    ASSERT_GE(trace.size(), 3);
    EXPECT_EQ(trace[0], QStringLiteral("Track: FFLen: 2"));
    EXPECT_EQ(trace[1], QStringLiteral("msId1: 1234 Instalacion:7"));
    EXPECT_EQ(trace[2], QStringLiteral("ID = 1234"));
    EXPECT_TRUE(recording->statements().contains(QStringLiteral("SELECT CODINSTALACION,CODIGO FROM ABONADOS WHERE CODTARJETA = 'FF'")));
    for (const char* card : {";0000000004096?", ";0000000000000?"}) {
        controller->reader(1).raiseCardNumberRead(QString::fromLatin1(card));
    }
    const QStringList more = takeTrace();
    EXPECT_TRUE(more.contains(QStringLiteral("Track: 1000Len: 4")));
    EXPECT_TRUE(more.contains(QStringLiteral("Track: 0Len: 1")));
}

TEST_F(Passage, UnreadableReadsAreLoggedAndSkipped)
{
    entrance(QStringLiteral("ABCX7XXXXX01234Z"));
    controller->reader(2).raiseCardNumberRead(QStringLiteral(";000000ABCDEF0?"));
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("Lectura no válida en el lector 1: |ABCX7XXXXX01234Z|"),
                                        QStringLiteral("Tarjeta no válida en el lector 2: |;000000ABCDEF0?|")}));
    EXPECT_EQ(rows(), 0);
}

TEST_F(Passage, DatabaseErrorBeforeTheDecisionKeepsTheBarrierShut)
{
    db.exec(QStringLiteral("ALTER TABLE BLOQUEOS RENAME TO BLOQUEOS_APARTE"));
    entrance();
    const QStringList trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay")).isEmpty());
    ASSERT_FALSE(trace.isEmpty());
    EXPECT_TRUE(trace.last().startsWith(QStringLiteral("ERROR en la lectura del lector 1: ")));
    EXPECT_EQ(freeSpaces(), 10);
    // The station waits for the next read and serves it.
    db.exec(QStringLiteral("ALTER TABLE BLOQUEOS_APARTE RENAME TO BLOQUEOS"));
    entrance();
    EXPECT_FALSE(takeTrace().filter(QStringLiteral("> relay 1 0 6")).isEmpty());
}

TEST_F(Passage, ExitOpensWhenTheDatabaseIsGoneAndTheWritesFollowLater)
{
    entrance();
    setClocks(QDateTime(QDate(2026, 3, 4), QTime(11, 0)));
    faults->failEverything = true;
    exit();
    const QStringList trace = takeTrace();
    EXPECT_FALSE(trace.filter(QStringLiteral("> relay 2 0 6")).isEmpty());
    EXPECT_FALSE(trace.filter(QStringLiteral("> display 2 |GRACIAS POR SU VISITA")).isEmpty());
    EXPECT_EQ(trace.filter(QStringLiteral("DIARIO: pendiente")).size(), 2);
    EXPECT_EQ(rows("HORASALIDA IS NULL"), 1);
    EXPECT_EQ(freeSpaces(), 9);

    // The database comes back an hour later: the row gets the exit's time.
    faults->failEverything = false;
    setClocks(QDateTime(QDate(2026, 3, 4), QTime(12, 0)));
    probe();
    EXPECT_EQ(rows("HORASALIDA = '2026-03-04 11:00:00'"), 1);
    EXPECT_EQ(freeSpaces(), 10);
    EXPECT_FALSE(controller->database().recorder().pending());
    probe(); // nothing written twice
    EXPECT_EQ(freeSpaces(), 10);
}

// An exit closes the stays that began on its day, no later than itself, and
// are still open: the same rows whether written at once or replayed from the
// journal after an outage.
TEST_F(Passage, LiveAndReplayedExitsCloseTheSameStays)
{
    for (const bool replayed : {false, true}) {
        db.exec(QStringLiteral("DELETE FROM MOVIMIENTOS_PARKING"));
        const char* stays[] = {
            "'2026-03-04 08:00:00', NULL",                  // this morning: closed
            "'2026-03-04 09:30:00', NULL",                  // this morning too: closed
            "'2026-03-03 18:00:00', NULL",                  // yesterday: stays open
            "'2026-03-04 07:00:00', '2026-03-04 07:30:00'", // already closed: kept
            "'2026-03-04 12:30:00', NULL",                  // after the exit (a clock ahead): stays open
        };
        for (const char* stay : stays) {
            db.exec(QStringLiteral("INSERT INTO MOVIMIENTOS_PARKING (CodInstalacion,Codigo,INSTALACIONABONADO,HORAENTRADA,"
                                   "HORASALIDA) VALUES (3,1234,7,%1)").arg(QLatin1String(stay)));
        }
        setClocks(QDateTime(QDate(2026, 3, 4), QTime(12, 0)));
        faults->failEverything = replayed;
        exit();
        if (replayed) {
            EXPECT_EQ(rows("HORASALIDA IS NULL"), 4) << "nothing written during the outage";
            faults->failEverything = false;
            setClocks(QDateTime(QDate(2026, 3, 4), QTime(13, 0)));
            probe();
            ASSERT_FALSE(controller->database().recorder().pending());
        }
        EXPECT_EQ(rows("HORASALIDA = '2026-03-04 12:00:00'"), 2) << (replayed ? "replayed" : "live");
        EXPECT_EQ(rows("HORASALIDA IS NULL"), 2) << (replayed ? "replayed" : "live");
        EXPECT_EQ(rows("HORASALIDA = '2026-03-04 07:30:00'"), 1) << (replayed ? "replayed" : "live");
    }
}

// The database carries out a passage's writes but its answer is lost: the
// passage waits in the journal with the key its writes left in the
// database, and the replay finds the key and writes nothing twice.
TEST_F(Passage, WritesWhoseAnswerIsLostAreNotWrittenTwice)
{
    const auto lost = [](const QString& sql) {
        return sql == QLatin1String("COMMIT") || sql.startsWith(QLatin1String("WITH u AS (UPDATE INSTALACIONES"));
    };
    faults->loseAnswer = lost;
    entrance();
    EXPECT_FALSE(takeTrace().filter(QStringLiteral("> relay 1 0 6")).isEmpty());
    EXPECT_TRUE(controller->database().recorder().pending());
    EXPECT_EQ(rows(), 1); // the database has it already
    faults->loseAnswer = nullptr;
    probe();
    EXPECT_FALSE(controller->database().recorder().pending());
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(freeSpaces(), 9);

    setClocks(QDateTime(QDate(2026, 3, 4), QTime(10, 30)));
    faults->loseAnswer = lost;
    exit();
    EXPECT_FALSE(takeTrace().filter(QStringLiteral("> relay 2 0 6")).isEmpty());
    faults->loseAnswer = nullptr;
    probe();
    EXPECT_FALSE(controller->database().recorder().pending());
    EXPECT_EQ(rows("HORASALIDA IS NOT NULL"), 1);
    EXPECT_EQ(freeSpaces(), 10);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM DIARIO_APLICADO")).toInt(), 2);
}

TEST_F(Passage, OldPassageKeysGoInBatchesAfterProbes)
{
    // 1,200 keys from last year and one from yesterday.
    db.exec(QStringLiteral("BEGIN"));
    for (int i = 0; i < 1200; ++i)
        db.exec(QStringLiteral("INSERT INTO DIARIO_APLICADO (UNIDAD, FECHA) VALUES ('old%1', '2025-03-01 10:00:00')").arg(i));
    db.exec(QStringLiteral("INSERT INTO DIARIO_APLICADO (UNIDAD, FECHA) VALUES ('new', '2026-03-03 10:00:00')"));
    db.exec(QStringLiteral("COMMIT"));
    const auto keys = [this] { return db.scalar(QStringLiteral("SELECT count(*) FROM DIARIO_APLICADO")).toInt(); };
    probe();
    EXPECT_EQ(keys(), 701);
    probe();
    probe();
    EXPECT_EQ(keys(), 1);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT UNIDAD FROM DIARIO_APLICADO")).toString(), QStringLiteral("new"));

    // A database that refuses is told once, and the stations go on.
    faults->failSql = [](const QString& sql) { return sql.startsWith(QLatin1String("DELETE FROM DIARIO_APLICADO")); };
    setClocks(QDateTime(QDate(2026, 6, 10), QTime(12, 0)));
    probe();
    setClocks(QDateTime(QDate(2026, 6, 10), QTime(14, 0)));
    probe();
    EXPECT_EQ(takeTrace().filter(QStringLiteral("DIARIO: no se pueden borrar las claves antiguas")).size(), 1);
    faults->failSql = nullptr;
    entrance();
    EXPECT_EQ(rows(), 1);
}

TEST_F(Passage, GrantedEntranceWhoseWritesFailStillGoesIn)
{
    faults->failSql = [](const QString& sql) {
        return sql.startsWith(QLatin1String("INSERT INTO Movimientos_Parking")) || sql.startsWith(QLatin1String("SELECT PLAZAS_LIBRES FROM")) ||
               sql.startsWith(QLatin1String("WITH u AS (UPDATE INSTALACIONES"));
    };
    entrance();
    const QStringList trace = takeTrace();
    EXPECT_FALSE(trace.filter(QStringLiteral("> relay 1 0 6")).isEmpty());
    EXPECT_TRUE(trace.contains(QStringLiteral("> plazas 9"))); // shown from the count read at the start
    EXPECT_EQ(rows(), 0);
    // Later writes queue behind the journal, in order.
    setClocks(QDateTime(QDate(2026, 3, 4), QTime(10, 30)));
    exit();
    EXPECT_EQ(rows(), 0);
    faults->failSql = nullptr;
    probe();
    EXPECT_EQ(rows("HORAENTRADA = '2026-03-04 10:00:00' AND HORASALIDA = '2026-03-04 10:30:00'"), 1);
    EXPECT_EQ(freeSpaces(), 10);
}

TEST_F(Passage, CounterStaysWithinItsBounds)
{
    setFree(20, 20);
    exit();
    EXPECT_EQ(freeSpaces(), 20); // at capacity
    setFree(25, 20);
    exit();
    EXPECT_EQ(freeSpaces(), 20); // capacity lowered meanwhile
    setFree(25, 20);
    entrance();
    EXPECT_EQ(freeSpaces(), 24); // above capacity: down by one only
}

struct Manual {
    const char* name;
    const char* typed;
    bool accepted;
    int after;
};

class ManualSetting : public Passage, public ::testing::WithParamInterface<Manual> {};

TEST_P(ManualSetting, UpToTheCapacity)
{
    const Manual& m = GetParam();
    recording->calls.clear(); // start-up's statements (those of a passage, sent once for nobody) aside
    const auto set = controller->setFreeSpacesByHand(QString::fromLatin1(m.typed));
    EXPECT_EQ(freeSpaces(), m.after);
    EXPECT_EQ(set.has_value(), m.accepted);
    const QStringList trace = takeTrace();
    if (m.accepted) {
        EXPECT_EQ(trace, QStringList{QStringLiteral("> plazas %1").arg(m.after)});
        EXPECT_EQ(*set, m.after);
    } else {
        EXPECT_EQ(trace, QStringList{QStringLiteral("> alert |NO SE PUEDEN ACTUALIZAR LAS PLAZAS|")});
        EXPECT_FALSE(recording->statements().filter(QStringLiteral("UPDATE INSTALACIONES")).size() > 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, ManualSetting, ::testing::Values(
    Manual{"Capacity", "20", true, 20}, Manual{"CapacityPlusOne", "21", false, 10}, Manual{"Zero", "0", true, 0},
    Manual{"Empty", "", false, 10}, Manual{"LeadingZeros", "007", true, 7},
    Manual{"FourteenDigits", "99999999999999", false, 10}),
    [](const auto& info) { return std::string(info.param.name); });

// Only the widget's validator and the script parser keep other text out of
// the box; whatever gets past them is no count and reaches no statement.
class ManualSettingNotANumber : public Passage, public ::testing::WithParamInterface<const char*> {};

TEST_P(ManualSettingNotANumber, IsLoggedRefusedAndNeverWritten)
{
    const QString typed = QString::fromUtf8(GetParam());
    recording->calls.clear(); // start-up's statements aside
    controller->setFreeSpacesByHand(typed);
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("Plazas no válidas en Actualiza Plazas: |%1|").arg(typed),
                                        QStringLiteral("> alert |NO SE PUEDEN ACTUALIZAR LAS PLAZAS|")}));
    EXPECT_TRUE(recording->statements().filter(QStringLiteral("UPDATE INSTALACIONES")).isEmpty());
    EXPECT_EQ(freeSpaces(), 10);
}

INSTANTIATE_TEST_SUITE_P(Texts, ManualSettingNotANumber,
                         ::testing::Values("-5", "abc", "5 WHERE 1=1 OR CodInstalacion = 3", "1e3", "٥"));

TEST_F(Passage, ManualSettingStatementIsExact)
{
    controller->setFreeSpacesByHand(QStringLiteral("15"));
    EXPECT_TRUE(recording->statements().contains(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = 15 WHERE CodInstalacion = 3")));
}

} // namespace

namespace {

// What the server logged for one session from `offset` on: its statements
// as the server saw them, the tests' own clock setting left out.
QStringList loggedStatements(const QString& log, qint64 offset, int pid)
{
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    const QString session = QStringLiteral("[%1] LOG:  ").arg(pid);
    QStringList statements;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const qsizetype at = line.indexOf(session);
        if (at < 0)
            continue;
        const QString text = line.mid(at + session.size());
        if (!text.startsWith(QLatin1String("statement: ")) && !text.startsWith(QLatin1String("execute ")))
            continue;
        if (!text.contains(QLatin1String("statement: SET parking.now")))
            statements << text;
    }
    return statements;
}

TEST_F(Passage, AGrantedEntranceCostsTheServerTwoStatements)
{
    if (db.backend() != Backend::PostgreSQL)
        GTEST_SKIP() << "counts what the PostgreSQL server logs";
    const QString log = QFileInfo(qEnvironmentVariable("ODBCINI")).dir().filePath(QStringLiteral("server.log"));
    const int pid = controller->database().call(DatabaseCall::StartUp, [](Connection& c) {
        return c.query(QStringLiteral("SELECT pg_backend_pid() PID FROM DUAL"), {})->field(QStringLiteral("PID")).toInt();
    });
    // A first entrance after start-up, and one more: the statements are
    // prepared the first time, the driver asks nothing on its own either time.
    for (int entrances = 0; entrances < 2; ++entrances) {
        setClocks(QDateTime(QDate(2026, 3, 4), QTime(10, 10 * entrances)));
        const qint64 offset = QFileInfo(log).size();
        entrance();
        ASSERT_FALSE(takeTrace().filter(QStringLiteral("> relay 1 0 6")).isEmpty());
        const QStringList seen = loggedStatements(log, offset, pid);
        // From the decision to the commit (one statement commits itself).
        ASSERT_FALSE(seen.isEmpty()) << log.toStdString();
        EXPECT_TRUE(seen.first().contains(QLatin1String("SELECT 1 TAG"))) << seen.join(QLatin1Char('\n')).toStdString();
        EXPECT_LE(seen.size(), 4) << seen.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(seen.size(), 2) << seen.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(rows(), entrances + 1);
    }
}

} // namespace
