// The statements sent before the first passage change nothing, on the
// backend the tests run on (and on PostgreSQL in the pg. run, where the
// passage's writes are among them).
#include "StatementWarmUp.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace parking;
using namespace parking::test;

namespace {

TEST(StatementWarmUp, ChangesNothingAndCanBeRepeated)
{
    TempDatabase db(QDateTime(QDate(2026, 3, 4), QTime(10, 0)));
    db.exec(QStringLiteral("INSERT INTO INSTALACIONES (CodInstalacion, Nombre, PLAZAS_PARKING, PLAZAS_LIBRES) VALUES (7, 'X', 50, 20)"));
    db.exec(QStringLiteral("INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES (7,1,2)"));
    db.exec(QStringLiteral("INSERT INTO Movimientos_Parking (CodInstalacion,Codigo,INSTALACIONABONADO,HORAENTRADA) "
                           "VALUES (7,1,7,'2026-03-04 09:00:00')"));
    const auto state = [&] {
        return QStringList{db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking")).toString(),
                           db.scalar(QStringLiteral("SELECT count(*) FROM Movimientos_Parking WHERE HORASALIDA IS NULL")).toString(),
                           db.scalar(QStringLiteral("SELECT count(*) FROM DIARIO_APLICADO")).toString(),
                           db.scalar(QStringLiteral("SELECT sum(PLAZAS_LIBRES) FROM INSTALACIONES")).toString(),
                           db.scalar(QStringLiteral("SELECT count(*) FROM INSTALACIONES")).toString()};
    };
    const QStringList before = state();
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_THROW(records::warmUpStatements(*db.connection(), 7));
    EXPECT_EQ(state(), before);
}

} // namespace
