// Passages against a database that does not answer in time, on both
// backends: a statement is held (the connection's thread waits, as for a
// server that stopped) until the test lets it go. A decision not answered
// is a refusal; a write not answered opens into the journal; a card not
// looked up is not read at the entrance and goes out as nobody's at the
// exit; what comes after takes the outage path at once; an answer that
// comes late changes nothing; and once a fresh connection answers, every
// movement is in the database once.
#include "QtPrinters.h"
#include "StationFixture.h"
#include "WaitFor.h"

using namespace parking;
using namespace parking::test;

namespace {

const QString Track1234 = QStringLiteral("ABC07XXXXX01234Z"); // subscriber 1234 of installation 7
const QString Track55 = QStringLiteral("ABC07XXXXX00055Z");   // subscriber 55, inside

class PassageDeadline : public StationFixture {
protected:
    void SetUp() override
    {
        readWait = std::chrono::milliseconds(300);
        writeWait = std::chrono::milliseconds(400);
        restartController();
        seedInstallation(true, QStringLiteral("2"), true, QStringLiteral("PISCINA CUBIERTA"), 10, 20);
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,CODTARJETA) VALUES (7,1234,2,'FF')"));
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista,CODTARJETA) VALUES (7,55,2,'EE')"));
        db.exec(QStringLiteral("INSERT INTO Movimientos_Parking VALUES (3,55,7,'2026-03-04 09:00:00',NULL)"));
        ASSERT_EQ(start(), StationController::StartUp::InService);
        controller->database().recorder();
        takeTrace();
    }
    void hold(const QString& pattern) { faults->hold = std::make_shared<StatementHold>(pattern); }
    int scalar(const QString& sql) const { return db.scalar(sql).toInt(); }
    int freeSpaces() const { return scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")); }
    int stays(int subscriber, const char* where = "1=1") const
    {
        return scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE Codigo = %1 AND ").arg(subscriber) +
                      QLatin1String(where));
    }
    StatusSnapshot status() const { return controller->status().snapshot(); }
    // The held statement goes on, late; its answer is said once.
    void releaseAndHearTheLateAnswer(const QString& call)
    {
        faults->hold->release();
        WAIT_FOR(!traceLines.filter(QStringLiteral("Respuesta tardía de la base de datos (%1)").arg(call)).isEmpty(), 10000);
    }
    // Probes until a fresh connection answers and the journal is written.
    void recover()
    {
        for (int i = 0; i < 10 && (!controller->monitor().database().answering() || controller->database().recorder().pending());
             ++i)
            probe();
        ASSERT_TRUE(controller->monitor().database().answering());
        ASSERT_FALSE(controller->database().recorder().pending());
    }
    // The write statement of a passage, as each backend is sent it.
    QString writeStatement(bool entrance) const
    {
        if (db.backend() == Backend::PostgreSQL)
            return QStringLiteral("WITH u AS");
        return entrance ? QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO) VALUES")
                        : QStringLiteral("UPDATE MOVIMIENTOS_PARKING SET HORASALIDA");
    }
};

TEST_F(PassageDeadline, ADecisionNotAnsweredIsARefusalAndWhatFollowsDoesNotWait)
{
    hold(QStringLiteral(" TAG, "));
    controller->reader(1).raiseTrackRead(Track1234);
    QStringList trace = takeTrace();
    EXPECT_TRUE(trace.contains(QStringLiteral("ERROR en la lectura del lector 1: The database did not answer within 300 ms")))
        << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay")).isEmpty());
    EXPECT_EQ(status().deadlinesExceeded.at(DatabaseCall::Decision), 1u);
    EXPECT_FALSE(status().databaseConnected);

    // The exit and a manual opening right behind it: nothing waits again.
    controller->reader(2).raiseTrackRead(Track55);
    controller->openBarrierByHand(1);
    trace = takeTrace();
    EXPECT_TRUE(trace.contains(QStringLiteral("ERROR al escribir en la base de datos: The database is not answering")))
        << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(trace.filter(QStringLiteral("> relay")), (QStringList{QStringLiteral("> relay 2 0 6"), QStringLiteral("> relay 1 0 100")}));
    EXPECT_EQ(status().deadlinesExceeded.at(DatabaseCall::PassageWrite), 0u);

    // The decision's answer, late: it opens nothing.
    releaseAndHearTheLateAnswer(QStringLiteral("decisión de entrada"));
    EXPECT_TRUE(takeTrace().filter(QStringLiteral("> relay")).isEmpty());
    recover();
    EXPECT_TRUE(status().databaseConnected);
    db.reopen();
    EXPECT_EQ(stays(1234), 0);
    EXPECT_EQ(stays(55, "HORASALIDA IS NOT NULL"), 1);
    EXPECT_EQ(freeSpaces(), 11);
}

struct HeldWrite {
    const char* name;
    bool entrance;
};

class WriteNotAnswered : public PassageDeadline, public ::testing::WithParamInterface<HeldWrite> {};

TEST_P(WriteNotAnswered, OpensIntoTheJournalAndIsWrittenOnceThoughItCommitsLate)
{
    const bool entrance = GetParam().entrance;
    hold(writeStatement(entrance));
    controller->reader(entrance ? 1 : 2).raiseTrackRead(entrance ? Track1234 : Track55);
    const QStringList trace = takeTrace();
    EXPECT_TRUE(trace.contains(QStringLiteral("ERROR al escribir en la base de datos: The database did not answer within 400 ms")))
        << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(trace.filter(QStringLiteral("DIARIO: pendiente")).size(), 2);
    EXPECT_EQ(trace.filter(QStringLiteral("> relay")).size(), 1) << "the barrier opens";
    EXPECT_EQ(status().deadlinesExceeded.at(DatabaseCall::PassageWrite), 1u);

    // The held write commits after all; the journal's copy is recognised by
    // its key when it is replayed.
    releaseAndHearTheLateAnswer(QStringLiteral("escritura del paso"));
    recover();
    db.reopen();
    if (entrance)
        EXPECT_EQ(stays(1234), 1);
    else
        EXPECT_EQ(stays(55, "HORASALIDA IS NOT NULL"), 1);
    EXPECT_EQ(freeSpaces(), entrance ? 9 : 11);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteNotAnswered,
                         ::testing::Values(HeldWrite{"Entrance", true}, HeldWrite{"Exit", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PassageDeadline, ACardNotLookedUpIsNotReadAtTheEntranceAndGoesOutAsNobodysAtTheExit)
{
    hold(QStringLiteral("CODTARJETA"));
    controller->reader(1).raiseCardNumberRead(QStringLiteral("0255"));
    QStringList trace = takeTrace();
    EXPECT_TRUE(trace.contains(QStringLiteral("Tarjeta FF no leída en el lector 1: The database did not answer within 300 ms")))
        << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay")).isEmpty());
    EXPECT_EQ(status().station(StationRole::Entrance).passages.at(Outcome::Error), 1u);

    controller->reader(2).raiseCardNumberRead(QStringLiteral("0238"));
    trace = takeTrace();
    EXPECT_TRUE(trace.contains(QStringLiteral("Tarjeta EE sin buscar en el lector 2 (The database is not answering): sale como "
                                              "tarjeta desconocida")))
        << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(trace.contains(QStringLiteral("msId2: 0 Instalacion:0")));
    EXPECT_EQ(trace.filter(QStringLiteral("> relay 2 0 6")).size(), 1);
    releaseAndHearTheLateAnswer(QStringLiteral("búsqueda de tarjeta"));
    recover();
    db.reopen();
    EXPECT_EQ(freeSpaces(), 11) << "the space is given back";
}

TEST_F(PassageDeadline, AnEmbeddedWriteBlockedByAnotherProgramsLockIsBoundedTheSameWay)
{
    if (db.backend() != Backend::Embedded)
        GTEST_SKIP() << "another program's lock on the embedded database file";
    // Shorter than the embedded database's own wait for a lock (250 ms).
    writeWait = std::chrono::milliseconds(100);
    restartController();
    ASSERT_EQ(start(), StationController::StartUp::InService);
    takeTrace();
    auto holder = db.openAnother();
    holder->execute(QStringLiteral("BEGIN EXCLUSIVE"));
    controller->reader(1).raiseTrackRead(Track1234);
    const QStringList trace = takeTrace();
    EXPECT_TRUE(trace.contains(QStringLiteral("ERROR al escribir en la base de datos: The database did not answer within 100 ms")))
        << trace.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(trace.filter(QStringLiteral("> relay 1 0 6")).size(), 1);
    // The lock's own wait ends the set-aside write a moment later.
    WAIT_FOR(!traceLines.filter(QStringLiteral("Respuesta tardía de la base de datos (escritura del paso)")).isEmpty(), 10000);
    EXPECT_TRUE(traceLines.filter(QStringLiteral("Respuesta tardía")).front().contains(QStringLiteral("database is locked")));
    holder->execute(QStringLiteral("ROLLBACK"));
    recover();
    EXPECT_EQ(stays(1234), 1);
    EXPECT_EQ(freeSpaces(), 9);
}

} // namespace
