#include "QtPrinters.h"
#include "OracleDialect.h"

#include <gtest/gtest.h>

using namespace parking;

namespace {

struct Rewrite {
    const char* in;
    const char* out;
};

class SysdateRewrite : public ::testing::TestWithParam<Rewrite> {};

TEST_P(SysdateRewrite, OnlyBareSysdateOutsideQuotesAndComments)
{
    EXPECT_EQ(callBareSysdate(QString::fromUtf8(GetParam().in)), QString::fromUtf8(GetParam().out));
}

INSTANTIATE_TEST_SUITE_P(Cases, SysdateRewrite, ::testing::Values(
    Rewrite{"SELECT 1 FROM DUAL", "SELECT 1 FROM DUAL"},
    Rewrite{"FECHA <= SYSDATE", "FECHA <= SYSDATE()"},
    Rewrite{"TRUNC(sysdate)", "TRUNC(sysdate())"},
    Rewrite{"TO_CHAR(SYSDATE,'DD/MM/YYYY')", "TO_CHAR(SYSDATE(),'DD/MM/YYYY')"},
    Rewrite{"SET HORASALIDA = SYSDATE WHERE", "SET HORASALIDA = SYSDATE() WHERE"},
    Rewrite{"SYSDATE()", "SYSDATE()"},
    Rewrite{"SYSDATE ()", "SYSDATE ()"},
    Rewrite{"'SYSDATE'", "'SYSDATE'"},
    Rewrite{"'it''s SYSDATE'", "'it''s SYSDATE'"},
    Rewrite{"\"SYSDATE\"", "\"SYSDATE\""},
    Rewrite{"MY_SYSDATE, SYSDATE2", "MY_SYSDATE, SYSDATE2"},
    Rewrite{"-- the server's SYSDATE\nSYSDATE", "-- the server's SYSDATE\nSYSDATE()"},
    Rewrite{"/* SYSDATE's */ SYSDATE", "/* SYSDATE's */ SYSDATE()"},
    Rewrite{"'unterminated SYSDATE", "'unterminated SYSDATE"}));

TEST(OracleDialect, ToCharFormats)
{
    const QDateTime t(QDate(2026, 1, 31), QTime(23, 59, 58));
    EXPECT_EQ(oracleToChar(t, QStringLiteral("DD/MM/YYYY")), QStringLiteral("31/01/2026"));
    EXPECT_EQ(oracleToChar(t, QStringLiteral("MMYYYY")), QStringLiteral("012026"));
    EXPECT_EQ(oracleToChar(t, QStringLiteral("HH24:MI:SS")), QStringLiteral("23:59:58"));
}

TEST(OracleDialect, DateTextsInEveryAcceptedForm)
{
    EXPECT_EQ(parseDateText(QStringLiteral("2026-02-28 07:08:09")), QDateTime(QDate(2026, 2, 28), QTime(7, 8, 9)));
    EXPECT_EQ(parseDateText(QStringLiteral("2026-02-28T07:08:09")), QDateTime(QDate(2026, 2, 28), QTime(7, 8, 9)));
    EXPECT_EQ(parseDateText(QStringLiteral("2026-02-28")), QDateTime(QDate(2026, 2, 28), QTime(0, 0)));
    EXPECT_EQ(parseDateText(QStringLiteral("09:00:00")).time(), QTime(9, 0));
    EXPECT_FALSE(parseDateText(QStringLiteral("yesterday")).isValid());
    EXPECT_FALSE(parseDateText(QStringLiteral("2026-02-30")).isValid());
}

} // namespace
