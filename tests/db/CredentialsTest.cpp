// The database account's file: read strictly, refused when others may read
// it, and never quoted in a fault.
#include "Credentials.h"
#include "OdbcSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parking;
using parking::test::writeFile;

namespace {

const QString Secret = QStringLiteral(" s3cr3t;pa=ss ");

struct Case {
    const char* name;
    QString content;
    QFile::Permissions mode;
    const char* fault; // nullptr: read
};

class CredentialsFile : public ::testing::TestWithParam<Case> {};

TEST_P(CredentialsFile, IsReadOrRefusedWithoutThePassword)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("credenciales"));
    writeFile(path, GetParam().content);
    QFile::setPermissions(path, GetParam().mode);
    const auto loaded = loadCredentials(path);
    if (!GetParam().fault) {
        ASSERT_TRUE(loaded) << loaded.error().toStdString();
        EXPECT_EQ(loaded->user, QStringLiteral("gate_north"));
        EXPECT_EQ(loaded->password, Secret) << "blanks and signs of the password are kept";
        return;
    }
    ASSERT_FALSE(loaded);
    const QString fault = loaded.error();
    EXPECT_TRUE(fault.contains(QString::fromUtf8(GetParam().fault))) << fault.toStdString();
    EXPECT_TRUE(fault.contains(path));
    EXPECT_FALSE(fault.contains(QStringLiteral("s3cr3t"))) << fault.toStdString();
}

const QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
const QString Good = QStringLiteral("# the gate's account\nusuario = gate_north\nclave=") + Secret + QStringLiteral("\n");

INSTANTIATE_TEST_SUITE_P(Cases, CredentialsFile, ::testing::Values(
    Case{"Good", Good, OwnerOnly, nullptr},
    Case{"WindowsLineEnds", QString(Good).replace(QStringLiteral("\n"), QStringLiteral("\r\n")), OwnerOnly, nullptr},
    Case{"ReadOnlyForOwner", Good, QFile::ReadOwner, nullptr},
    Case{"GroupMayRead", Good, OwnerOnly | QFile::ReadGroup, "lo pueden leer otros (permisos 640)"},
    Case{"OthersMayRead", Good, OwnerOnly | QFile::ReadOther, "lo pueden leer otros"},
    Case{"NoUser", QStringLiteral("clave=") + Secret, OwnerOnly, "falta usuario="},
    Case{"StrayLine", Good + QStringLiteral("s3cr3t\n"), OwnerOnly, "línea 4"},
    Case{"UnknownKey", QStringLiteral("usuario=gate_north\npassword=") + Secret, OwnerOnly, "línea 2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CredentialsPath, ConfiguredFileElseSystemdsCredentialElseNone)
{
    QTemporaryDir dir;
    EXPECT_EQ(credentialsPath(QStringLiteral("cred"), QStringLiteral("/etc/parking-station")),
              QStringLiteral("/etc/parking-station/cred"));
    EXPECT_EQ(credentialsPath(QStringLiteral("/srv/c"), QStringLiteral("/etc/parking-station")), QStringLiteral("/srv/c"));
    qputenv("CREDENTIALS_DIRECTORY", dir.path().toUtf8());
    EXPECT_EQ(credentialsPath({}, QStringLiteral("/etc")), QString()) << "no credential given";
    writeFile(dir.filePath(QStringLiteral("parking-db")), Good);
    EXPECT_EQ(credentialsPath({}, QStringLiteral("/etc")), dir.filePath(QStringLiteral("parking-db")));
    EXPECT_EQ(credentialsPath(QStringLiteral("/srv/c"), QStringLiteral("/etc")), QStringLiteral("/srv/c"));
    qunsetenv("CREDENTIALS_DIRECTORY");
}

} // namespace

namespace {

TEST(DataSourceAccount, ADataSourceWithItsOwnUserIsToldApart)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("odbc.ini"));
    writeFile(ini, QStringLiteral("[own]\nDriver=PostgreSQL Unicode\nUsername=gate_north\nPassword=x\n"
                                  "[uid]\nDriver=PostgreSQL Unicode\nUID=gate_south\n"
                                  "[none]\nDriver=PostgreSQL Unicode\nDatabase=parking\n"));
    const QByteArray before = qgetenv("ODBCINI");
    qputenv("ODBCINI", ini.toUtf8());
    EXPECT_TRUE(odbc::dataSourceHasUser(QStringLiteral("own")));
    EXPECT_TRUE(odbc::dataSourceHasUser(QStringLiteral("uid")));
    EXPECT_FALSE(odbc::dataSourceHasUser(QStringLiteral("none")));
    EXPECT_FALSE(odbc::dataSourceHasUser(QStringLiteral("missing")));
    if (before.isEmpty())
        qunsetenv("ODBCINI");
    else
        qputenv("ODBCINI", before);
}

} // namespace
