#include "QtPrinters.h"
#include "IniFile.h"

#include <gtest/gtest.h>

using parking::IniFile;

namespace {

struct Lookup {
    const char* text;
    const char* section;
    const char* key;
    const char* expected;
};

class IniLookup : public ::testing::TestWithParam<Lookup> {};

TEST_P(IniLookup, ReadsLikeTheProfileReader)
{
    const Lookup& c = GetParam();
    EXPECT_EQ(IniFile::fromText(QString::fromUtf8(c.text)).value(QLatin1String(c.section), QLatin1String(c.key)),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Rules, IniLookup, ::testing::Values(
    Lookup{"[Impresoras]\nInstalacion=7\n", "Impresoras", "Instalacion", "7"},
    Lookup{"[IMPRESORAS]\ninstalacion=7\n", "impresoras", "INSTALACION", "7"},        // no regard to case
    Lookup{"[Conexion]\nSID =  ORCL  \n", "Conexion", "SID", "ORCL"},                 // blanks around removed
    Lookup{"[Conexion]\r\nSID=ORCL\r\n", "Conexion", "SID", "ORCL"},                  // CR LF lines
    Lookup{"[Conexion]\nSID=\n", "Conexion", "SID", ""},                              // empty value
    Lookup{"[Conexion]\n", "Conexion", "SID", ""},                                    // missing key
    Lookup{"[Form]\nInstalacion=7\n", "Impresoras", "Instalacion", ""},               // other section
    Lookup{"Instalacion=7\n[Impresoras]\n", "Impresoras", "Instalacion", ""},         // before any section
    Lookup{"[A]\nk=1\nk=2\n", "A", "k", "1"},                                         // first key wins
    Lookup{"[A]\nk=1\n[A]\nk=2\nj=3\n", "A", "j", "3"},                               // a repeated section adds keys
    Lookup{"[A]\nk=a=b\n", "A", "k", "a=b"},                                          // first "=" splits
    Lookup{"[A]\nk=x ; not a comment\n", "A", "k", "x ; not a comment"},              // no inline comments
    Lookup{"[A]\n;k=1\nk=2\n", "A", "k", "2"},                                        // comment line
    Lookup{"[A]\nk=1\n  continued\n", "A", "k", "1"},                                 // no continuation lines
    Lookup{"\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "1"},                                   // byte-order mark
    Lookup{"[ A ]\n k = v \n", "A", "k", "v"}));

TEST(IniFile, ValueIsCutAt254Characters)
{
    const QString longValue(300, QLatin1Char('x'));
    const IniFile ini = IniFile::fromText(QStringLiteral("[A]\nk=") + longValue + QStringLiteral("\n"));
    EXPECT_EQ(ini.value(QStringLiteral("A"), QStringLiteral("k")), QString(254, QLatin1Char('x')));
    // A cut that falls among blanks leaves none at the value's end.
    const IniFile blanks = IniFile::fromText(QStringLiteral("[A]\nk=") + QString(250, QLatin1Char('x')) +
                                             QString(10, QLatin1Char(' ')) + QStringLiteral("y\n"));
    EXPECT_EQ(blanks.value(QStringLiteral("A"), QStringLiteral("k")), QString(250, QLatin1Char('x')));
}

TEST(IniFile, MissingFileReadsAsEmpty)
{
    const IniFile ini = IniFile::load(QStringLiteral("/nonexistent/Rivalto.ini"));
    EXPECT_FALSE(ini.exists());
    EXPECT_EQ(ini.value(QStringLiteral("Conexion"), QStringLiteral("SID")), QString());
}

} // namespace

TEST(IniFile, ASectionsEntriesKeepTheirSpellingAndOrderFirstOfANameOnly)
{
    const IniFile ini = IniFile::fromText(QStringLiteral("[operadores]\nMaría = $h1\n; comment\nluis=$h2\n"
                                                         "MARÍA=$h3\nnothing\n[Otra]\nx=1\n[OPERADORES]\nana=$h4\n"));
    const auto entries = ini.entries(QStringLiteral("Operadores"));
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0], std::make_pair(QStringLiteral("María"), QStringLiteral("$h1")));
    EXPECT_EQ(entries[1], std::make_pair(QStringLiteral("luis"), QStringLiteral("$h2")));
    EXPECT_EQ(entries[2], std::make_pair(QStringLiteral("ana"), QStringLiteral("$h4")));
    EXPECT_TRUE(ini.entries(QStringLiteral("Ninguna")).isEmpty());
}
