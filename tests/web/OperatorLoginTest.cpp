#include "KeyHash.h"
#include "LoginLimiter.h"
#include "OperatorDirectory.h"

#include <gtest/gtest.h>

using namespace parking;
using namespace std::chrono_literals;

namespace {

// The cheapest cost a file may hold: the tests check the rules, not the cost.
constexpr int Cheap = 10;

TEST(KeyHash, TheSameKeyHashesDifferentlyEachTimeAndEachHashKnowsOnlyItsKey)
{
    const auto first = KeyHash::make("correct horse battery", Cheap);
    const auto second = KeyHash::make("correct horse battery", Cheap);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->text(), second->text()) << "a fresh salt each time";
    EXPECT_TRUE(first->text().startsWith(QStringLiteral("$scrypt$ln=10,r=8,p=1$"))) << first->text().toStdString();
    const auto read = KeyHash::parse(first->text());
    ASSERT_TRUE(read) << read.error().toStdString();
    EXPECT_EQ(read->text(), first->text());
    EXPECT_TRUE(read->matches("correct horse battery"));
    EXPECT_FALSE(read->matches("correct horse batterY"));
    EXPECT_FALSE(read->matches("correct horse battery "));
    EXPECT_FALSE(read->matches(""));
    EXPECT_FALSE(first->text().contains(QStringLiteral("horse")));
}

TEST(KeyHash, AHashThatIsNotOneOrAsksTooMuchIsRefused)
{
    const QString good = KeyHash::make("k", Cheap)->text();
    const QString salt = good.section(QLatin1Char('$'), 3, 3);
    const QString hash = good.section(QLatin1Char('$'), 4, 4);
    const struct {
        const char* name;
        QString text;
    } cases[] = {
        {"the key in the clear", QStringLiteral("0123456789abcdef0123")},
        {"empty", QString()},
        {"another scheme", QStringLiteral("$argon2id$v=19$m=65536,t=3,p=4$") + salt + QLatin1Char('$') + hash},
        {"memory past the limit", QStringLiteral("$scrypt$ln=22,r=8,p=1$") + salt + QLatin1Char('$') + hash},
        {"too cheap", QStringLiteral("$scrypt$ln=4,r=8,p=1$") + salt + QLatin1Char('$') + hash},
        {"no salt", QStringLiteral("$scrypt$ln=10,r=8,p=1$$") + hash},
        {"a hash cut short", QStringLiteral("$scrypt$ln=10,r=8,p=1$") + salt + QStringLiteral("$abc")},
        {"trailing text", good + QStringLiteral(" x")},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(KeyHash::parse(c.text)) << c.name;
    EXPECT_TRUE(KeyHash::parse(good));
}

TEST(OperatorDirectory, ANameAndItsKeyGiveTheNameAsWrittenAnythingElseNothing)
{
    const QString maria = KeyHash::make("clave de maría 1", Cheap)->text();
    const QString luis = KeyHash::make("clave de luis 22", Cheap)->text();
    auto directory = OperatorDirectory::fromLines({{QStringLiteral("María"), maria}, {QStringLiteral("luis"), luis}});
    ASSERT_TRUE(directory) << directory.error().toStdString();
    EXPECT_EQ(directory->check(QStringLiteral("María"), "clave de maría 1"), QStringLiteral("María"));
    EXPECT_EQ(directory->check(QStringLiteral("MARÍA"), "clave de maría 1"), QStringLiteral("María"))
        << "names compare as the file's keys do";
    // Twice: the second answer comes from what was remembered, and must
    // still refuse another key.
    EXPECT_EQ(directory->check(QStringLiteral("María"), "clave de maría 1"), QStringLiteral("María"));
    EXPECT_FALSE(directory->check(QStringLiteral("María"), "clave de luis 22"));
    EXPECT_FALSE(directory->check(QStringLiteral("luis"), "clave de maría 1"));
    EXPECT_FALSE(directory->check(QStringLiteral("nadie"), "clave de maría 1"));
    EXPECT_FALSE(directory->check(QString(), "clave de maría 1"));
    EXPECT_EQ(directory->check(QStringLiteral("luis"), "clave de luis 22"), QStringLiteral("luis"));
}

TEST(OperatorDirectory, ANameNobodyHasCostsTheSameHashingAsAWrongKey)
{
    auto directory = OperatorDirectory::fromLines({{QStringLiteral("ana"), KeyHash::make("clave de ana 123", Cheap)->text()}});
    ASSERT_TRUE(directory);
    std::size_t before = directory->hashed();
    EXPECT_FALSE(directory->check(QStringLiteral("ana"), "wrong"));
    EXPECT_EQ(directory->hashed(), before + 1);
    before = directory->hashed();
    EXPECT_FALSE(directory->check(QStringLiteral("nobody"), "wrong"));
    EXPECT_EQ(directory->hashed(), before + 1) << "an unknown name answered without the hashing a known one costs";
    EXPECT_TRUE(directory->check(QStringLiteral("ana"), "clave de ana 123"));
    before = directory->hashed();
    EXPECT_TRUE(directory->check(QStringLiteral("ana"), "clave de ana 123"));
    EXPECT_EQ(directory->hashed(), before) << "the page's polling hashes its key each second";
}

TEST(OperatorDirectory, ALineThatCannotBeUsedIsRefusedWithItsName)
{
    const QString hash = KeyHash::make("k", Cheap)->text();
    const struct {
        const char* name;
        QList<std::pair<QString, QString>> lines;
        const char* fault;
    } cases[] = {
        {"a key in the clear", {{QStringLiteral("ana"), QStringLiteral("secreto-de-ana-123")}}, "ana: no es una huella"},
        {"a colon in the name", {{QStringLiteral("a:b"), hash}}, "|a:b|"},
        {"a name too long", {{QString(65, QLatin1Char('n')), hash}}, "de 1 a 64"},
    };
    for (const auto& c : cases) {
        const auto directory = OperatorDirectory::fromLines(c.lines);
        ASSERT_FALSE(directory) << c.name;
        EXPECT_TRUE(directory.error().contains(QString::fromUtf8(c.fault))) << c.name << ": " << directory.error().toStdString();
        EXPECT_FALSE(directory.error().contains(QStringLiteral("secreto"))) << "a key in a log line";
    }
}

const LoginLimiter::Time T0{};

TEST(LoginLimiter, FiveFailuresStopANameTenAnAddressUntilTheyLeaveTheWindow)
{
    LoginLimiter limiter;
    const QString a = QStringLiteral("192.0.2.1");
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(limiter.refusedFor(a, QStringLiteral("ana"), T0 + i * 1s)) << i;
        const auto began = limiter.failed(a, QStringLiteral("ana"), T0 + i * 1s);
        EXPECT_FALSE(began.name || began.address) << i;
    }
    EXPECT_TRUE(limiter.failed(a, QStringLiteral("ANA"), T0 + 4s).name) << "the fifth, under any spelling";
    EXPECT_EQ(limiter.refusedFor(a, QStringLiteral("ana"), T0 + 5s), std::chrono::seconds(295));
    EXPECT_TRUE(limiter.refusedFor(QStringLiteral("198.51.100.7"), QStringLiteral("ana"), T0 + 5s))
        << "the name is held from every address";
    EXPECT_FALSE(limiter.refusedFor(a, QStringLiteral("luis"), T0 + 5s)) << "the address is not yet";
    EXPECT_FALSE(limiter.refusedFor(a, QString(), T0 + 5s));
    for (int i = 5; i < 9; ++i)
        EXPECT_FALSE(limiter.failed(a, QStringLiteral("n") + QString::number(i), T0 + 5s).address) << i;
    EXPECT_TRUE(limiter.failed(a, QString(), T0 + 6s).address) << "the tenth from one address, bearer keys too";
    EXPECT_TRUE(limiter.refusedFor(a, QStringLiteral("luis"), T0 + 6s));
    EXPECT_FALSE(limiter.refusedFor(QStringLiteral("198.51.100.7"), QStringLiteral("luis"), T0 + 6s));
    // The first failure leaves the window at five minutes: four remain,
    // under the name's limit; the address still has nine.
    EXPECT_FALSE(limiter.refusedFor(QStringLiteral("198.51.100.7"), QStringLiteral("ana"), T0 + 300s));
    EXPECT_FALSE(limiter.refusedFor(a, QString(), T0 + 300s));
}

TEST(LoginLimiter, InventedNamesDoNotMakeItGrowAndDoNotFreeAnAddress)
{
    LoginLimiter limiter;
    for (int i = 0; i < 5000; ++i)
        (void)limiter.failed(QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250), QStringLiteral("n%1").arg(i), T0);
    // Bounded tables, and the newest are kept.
    EXPECT_FALSE(limiter.refusedFor(QStringLiteral("10.0.19.249"), QStringLiteral("n4999"), T0));
    LoginLimiter one;
    for (int i = 0; i < 10; ++i)
        (void)one.failed(QStringLiteral("192.0.2.1"), QStringLiteral("n%1").arg(i), T0);
    for (int i = 0; i < 3000; ++i)
        (void)one.failed(QStringLiteral("10.1.%1.%2").arg(i / 250).arg(i % 250), QString(), T0 + 1s);
    EXPECT_TRUE(one.refusedFor(QStringLiteral("192.0.2.1"), QString(), T0 + 2s)) << "a refused address outlives a flood";
}

} // namespace
