#include "QtPrinters.h"
#include "ConnectionString.h"

#include <gtest/gtest.h>

using namespace parking;

namespace {

const QString Prefix = QStringLiteral(
    "Provider=OraOLEDB.Oracle.1;Password=r7Tq2xLm;Persist Security Info=True;User ID=vexlor1;Data Source=");

TEST(ConnectionString, PrefixThenTrimmedServiceNameInTwoHundredCharacters)
{
    ASSERT_EQ(Prefix.size(), 100);
    const QString s = buildConnectionString(QStringLiteral("  ORCL  "));
    EXPECT_EQ(s.size(), 200);
    EXPECT_EQ(s, QString(Prefix + QStringLiteral("ORCL")).leftJustified(200, QLatin1Char(' ')));
}

TEST(ConnectionString, HundredCharacterServiceNameFillsItExactly)
{
    const QString sid(100, QLatin1Char('S'));
    EXPECT_EQ(buildConnectionString(sid), Prefix + sid);
}

TEST(ConnectionString, AttributesAreFoundWithoutRegardToCase)
{
    const QString s = buildConnectionString(QStringLiteral("sqlite:demo.db"));
    EXPECT_EQ(connectionAttribute(s, QStringLiteral("data source")), QStringLiteral("sqlite:demo.db"));
    EXPECT_EQ(connectionAttribute(s, QStringLiteral("User ID")), QStringLiteral("vexlor1"));
    EXPECT_EQ(connectionAttribute(s, QStringLiteral("Nothing")), QString());
    EXPECT_FALSE(describeDataSource(s).contains(QStringLiteral("r7Tq2xLm")));
}

} // namespace
