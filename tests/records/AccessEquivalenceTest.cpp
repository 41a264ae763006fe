// The one-statement facts and the pure decision against the statements
// they replaced (ReferenceRules), over a generated population: the same
// decision for every subscriber at every clock reading, on the backend
// the tests run on. The two-current-fee-rows case is in the population, so
// the first row the server gives must be the same in both forms.
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "Population.h"
#include "QtPrinters.h"
#include "ReferenceRules.h"
#include "TestSupport.h"

#include <gtest/gtest.h>


using namespace parking;
using namespace parking::test;

namespace {

TEST(AccessEquivalence, SameDecisionAsTheStatementsItReplaced)
{
    constexpr int Subscribers = 150;
    TempDatabase db(QDateTime(QDate(2026, 3, 4), QTime(10, 0)));
    Population population(20261209);
    db.exec(QStringLiteral("BEGIN"));
    for (const QString& sql : population.rows(Subscribers))
        db.exec(sql);
    db.exec(QStringLiteral("COMMIT"));
    int decisions = 0;
    int granted = 0;
    for (int reading = 0; reading < 16; ++reading) {
        // The workstation's clock a little off the server's, now and then.
        const QDateTime server(QDate(2026, 3, 2).addDays(population.pick(0, 6)), QTime(population.pick(0, 23), population.pick(0, 59), population.pick(0, 59)));
        const QDateTime workstation = server.addSecs(population.pick(0, 3) == 0 ? population.pick(-400, 400) : 0);
        db.serverClock().set(server);
        ManualClock clock(workstation);
        ReferenceRules reference(*db.connection(), clock);
        for (int s = 1; s <= Subscribers; ++s) {
            const AccessResult expected = reference.check(s, 7);
            const AccessResult got = decide(records::loadAccessFacts(*db.connection(), s, 7, 7), workstation);
            ASSERT_EQ(got, expected) << "subscriber " << s << " at " << workstation.toString(Qt::ISODate).toStdString()
                                     << " (server " << server.toString(Qt::ISODate).toStdString() << ")";
            ++decisions;
            granted += got == AccessResult::Granted;
        }
    }
    // The population reaches both answers often enough to mean something.
    EXPECT_EQ(decisions, 16 * Subscribers);
    EXPECT_GT(granted, decisions / 10);
    EXPECT_LT(granted, decisions * 9 / 10);
}

} // namespace
