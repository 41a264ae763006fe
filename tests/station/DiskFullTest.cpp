// The journal on a disk with no byte left (a small tmpfs, filled): an exit
// still opens and says loudly it may be lost; an entrance that neither the
// database nor the journal can record is refused; nothing half-written is
// left to replay, and once there is room again everything is kept.
#include "StationFixture.h"

#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

using namespace parking;
using namespace parking::test;

namespace {

const QString Track1234 = QStringLiteral("ABC07XXXXX01234Z");

class FullDisk : public StationFixture {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a tmpfs needs root (CI runs as root)";
        if (::mount("tmpfs", QFile::encodeName(disk.path()).constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
            GTEST_SKIP() << "this sandbox cannot mount a tmpfs";
        mounted = true;
        journalFile = disk.filePath(QStringLiteral("parking.journal"));
        restartController();
        seedInstallation(true, QStringLiteral("2"), true, QStringLiteral("PISCINA CUBIERTA"), 10, 20);
        db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1234,2)"));
        ASSERT_EQ(start(), StationController::StartUp::InService);
        takeTrace();
    }
    void TearDown() override
    {
        controller.reset();
        if (mounted)
            ::umount(QFile::encodeName(disk.path()).constData());
    }
    // Fills the disk to its last byte.
    void fill()
    {
        QFile filler(disk.filePath(QStringLiteral("filler")));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        while (filler.write("x", 1) == 1 && filler.flush()) {
        }
    }
    void makeRoom() { QFile::remove(disk.filePath(QStringLiteral("filler"))); }
    int freeSpaces() const { return db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(); }
    int rows(const char* where = "1=1") const
    {
        return db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE ") + QLatin1String(where)).toInt();
    }

    QTemporaryDir disk;
    bool mounted = false;
};

TEST_F(FullDisk, ExitOpensEntranceIsRefusedAndNothingHalfWrittenIsLeft)
{
    // Subscriber 1234 went in while all was well.
    controller->reader(1).raiseTrackRead(Track1234);
    ASSERT_EQ(rows(), 1);
    takeTrace();

    fill();
    // The database cannot take the writes either.
    faults->failSql = [](const QString& sql) {
        return sql.contains(QLatin1String("Movimientos_Parking"), Qt::CaseInsensitive) &&
               !sql.startsWith(QLatin1String("SELECT"));
    };
    workstationClock.advance(3600);
    db.serverClock().set(workstationClock.now());
    controller->reader(2).raiseTrackRead(Track1234);
    QStringList trace = takeTrace();
    EXPECT_FALSE(trace.filter(QStringLiteral("> relay 2 0 6")).isEmpty()) << "the exit opens";
    EXPECT_FALSE(trace.filter(QStringLiteral("ATENCIÓN: la salida de 1234 no se puede registrar")).isEmpty())
        << trace.join(QLatin1Char('\n')).toStdString();

    workstationClock.advance(3600);
    db.serverClock().set(workstationClock.now());
    controller->reader(1).raiseTrackRead(Track1234);
    trace = takeTrace();
    EXPECT_TRUE(trace.filter(QStringLiteral("> relay 1")).isEmpty()) << "nothing could record this entrance";
    EXPECT_FALSE(trace.filter(QStringLiteral("ATENCIÓN: la entrada de 1234 no se puede registrar")).isEmpty());
    EXPECT_EQ(QFile(journalFile).size(), 0) << "no piece of a write that failed";
    EXPECT_FALSE(controller->database().recorder().pending());

    // Room again: the next entrance waits whole in the journal and reaches
    // the database once it answers.
    makeRoom();
    controller->reader(1).raiseTrackRead(Track1234);
    trace = takeTrace();
    EXPECT_FALSE(trace.filter(QStringLiteral("> relay 1 0 6")).isEmpty());
    EXPECT_EQ(trace.filter(QStringLiteral("DIARIO: pendiente")).size(), 2);
    faults->failSql = {};
    probe();
    EXPECT_FALSE(controller->database().recorder().pending());
    EXPECT_EQ(rows("HORASALIDA IS NULL"), 2) << "the lost exit left its stay open; the new entrance has its row";
    EXPECT_EQ(freeSpaces(), 8);
}

} // namespace
