#pragma once
// Running the program as an operator or a tool does, from the tests.
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace parking::test {

struct StationRun {
    int exitCode = -1;
    QString out;
};

// The program's environment: no screen, and `home` (if given) as its home,
// where the demo keeps its site.
inline QProcessEnvironment stationEnvironment(const QString& home = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!home.isEmpty()) {
        env.insert(QStringLiteral("HOME"), home);
        env.remove(QStringLiteral("XDG_DATA_HOME"));
    }
    return env;
}

inline StationRun runStation(const QStringList& args, int waitMs = 20000, const QString& home = {})
{
    QProcess p;
    p.setProcessEnvironment(stationEnvironment(home));
    p.start(QStringLiteral(PARKING_STATION_BINARY), args);
    EXPECT_TRUE(p.waitForStarted());
    if (!p.waitForFinished(waitMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromUtf8(p.readAllStandardOutput())};
    }
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

// Reads the program's output until `count` lines start with `prefix`; the
// time limit only ends a wait for a program that has hung.
inline bool waitForLine(QProcess& p, QString& seen, const QString& prefix, int ms = 15000, int count = 1)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        seen += QString::fromUtf8(p.readAllStandardOutput());
        int found = 0;
        for (const QString& line : seen.split(QLatin1Char('\n'))) {
            if (line.startsWith(prefix) && ++found >= count)
                return true;
        }
        p.waitForReadyRead(100);
    }
    return false;
}

} // namespace parking::test
