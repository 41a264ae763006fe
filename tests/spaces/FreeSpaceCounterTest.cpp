#include "QtPrinters.h"
#include "DatabaseError.h"
#include "FreeSpaceCounter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace parking;
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
    // Another workstation lets a car in between our read and our update,
    // twice in a row.
    int interferences = 2;
    auto other = db.openAnother();
    faults->afterOpen = [&](const QString& sql) {
        if (sql.startsWith(QLatin1String("SELECT PLAZAS_LIBRES")) && interferences-- > 0)
            other->execute(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = PLAZAS_LIBRES - 1"));
    };
    EXPECT_EQ(counter.decrement(), 7);
    EXPECT_EQ(value(), 7);
    interferences = 1;
    EXPECT_EQ(counter.increment(), 7);
    EXPECT_EQ(value(), 7);
}

TEST_F(Counter, EndlessConflictsEndInAnError)
{
    auto other = db.openAnother();
    faults->afterOpen = [&](const QString&) {
        other->execute(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = PLAZAS_LIBRES + 1"));
    };
    EXPECT_THROW(counter.decrement(), UpdateConflict);
}

TEST_F(Counter, MissingRowIsAnError)
{
    db.exec(QStringLiteral("DELETE FROM INSTALACIONES"));
    EXPECT_THROW(counter.increment(), DatabaseError);
    EXPECT_THROW(counter.set(5), DatabaseError);
}

} // namespace
