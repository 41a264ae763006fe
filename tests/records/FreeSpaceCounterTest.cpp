#include "QtPrinters.h"
#include "DatabaseError.h"
#include "FreeSpaceCounter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace parking;
using namespace parking::records;
using namespace parking::test;

namespace {

class Counter : public ::testing::Test {
protected:
    Counter()
    {
        db.exec(QStringLiteral("INSERT INTO INSTALACIONES VALUES (3,'X',20,10)"));
        connection.open(db.connectionString(), {});
    }
    int value() const { return db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(); }
    TempDatabase db;
    std::shared_ptr<Faults> faults = std::make_shared<Faults>();
    FaultyConnection connection{faults, db.openAnother()};
    FreeSpaceCounter counter{connection, 3};
};

TEST_F(Counter, DecrementNeverGoesBelowZero)
{
    db.exec(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = 0"));
    EXPECT_EQ(counter.decrement(), 0);
    EXPECT_EQ(value(), 0);
}

TEST_F(Counter, AChangeMadeMeanwhileIsNotLost)
{
    // Another workstation lets a car in right after our change, before we
    // read the count back: both changes stay.
    auto other = db.openAnother();
    faults->afterOpen = [&](const QString& sql) {
        if (sql.startsWith(QLatin1String("SELECT PLAZAS_LIBRES")))
            other->execute(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = PLAZAS_LIBRES - 1"));
    };
    EXPECT_EQ(counter.decrement(), 9);
    EXPECT_EQ(value(), 8);
    EXPECT_EQ(counter.increment(), 9);
    EXPECT_EQ(value(), 8);
}

TEST_F(Counter, TwoWorkstationsAtOnceNeverConflictAndCountExactly)
{
    // Every statement of ours has one of theirs right after it.
    auto other = db.openAnother();
    FreeSpaceCounter theirs(*other, 3);
    bool busy = false;
    faults->afterOpen = [&](const QString&) {
        if (busy)
            return;
        busy = true;
        theirs.increment();
        busy = false;
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_NO_THROW(counter.decrement());
    // Ours: five down; theirs: five up, bounded by the capacity (20).
    EXPECT_EQ(value(), 10);
    const QStringList executed = faults->executed.filter(QStringLiteral("UPDATE INSTALACIONES"));
    ASSERT_FALSE(executed.isEmpty());
    EXPECT_EQ(executed.front(), QStringLiteral(
        "UPDATE INSTALACIONES SET PLAZAS_LIBRES = CASE WHEN PLAZAS_LIBRES - 1 < 0 THEN 0 ELSE PLAZAS_LIBRES - 1 END "
        "WHERE CodInstalacion = 3"));
}

TEST_F(Counter, MissingRowIsAnError)
{
    db.exec(QStringLiteral("DELETE FROM INSTALACIONES"));
    EXPECT_THROW(counter.increment(), DatabaseError);
    EXPECT_THROW(counter.set(5), DatabaseError);
}

} // namespace
