#pragma once
// The program run as a process against the PostgreSQL test server, and the
// server frozen under it.
#include "ProcessSupport.h"
#include "ServerSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

namespace parking::test {

// Every server process stopped until thaw() (or the end of the test, so a
// failed test leaves the server running for the next).
class FrozenServer {
public:
    FrozenServer() { serverCommand("freeze"); }
    ~FrozenServer() { thaw(); }
    void thaw()
    {
        if (std::exchange(frozen_, false))
            serverCommand("thaw");
    }

private:
    bool frozen_ = true;
};

// The program running a script, its output read as it comes.
class Workstation {
public:
    void start(const QString& config, const QString& script)
    {
        process_.setProcessEnvironment(stationEnvironment());
        process_.start(QStringLiteral(PARKING_STATION_BINARY), {QStringLiteral("--headless"), QStringLiteral("--config"),
                                                                 config, QStringLiteral("--script"), script});
    }
    bool waitFor(const QString& prefix, int ms = 15000, int count = 1) { return waitForLine(process_, seen_, prefix, ms, count); }
    // Waits until the output holds `text` anywhere.
    bool waitForText(const QString& text, int ms = 15000)
    {
        QElapsedTimer t;
        t.start();
        while (!seen_.contains(text) && t.elapsed() < ms) {
            process_.waitForReadyRead(100);
            seen_ += QString::fromUtf8(process_.readAllStandardOutput());
        }
        return seen_.contains(text);
    }
    // Waits for the program to end; its exit status (-1: it did not end).
    int finish(int ms)
    {
        if (!process_.waitForFinished(ms)) {
            process_.kill();
            process_.waitForFinished();
            seen_ += QString::fromUtf8(process_.readAllStandardOutput());
            return -1;
        }
        seen_ += QString::fromUtf8(process_.readAllStandardOutput());
        return process_.exitCode();
    }
    // Killed at once (SIGKILL), as a power cut or the OOM killer would.
    void kill()
    {
        process_.kill();
        process_.waitForFinished();
        seen_ += QString::fromUtf8(process_.readAllStandardOutput());
    }
    QStringList lines() const { return seen_.split(QLatin1Char('\n')); }
    const QString& seen() const { return seen_; }

private:
    QProcess process_;
    QString seen_;
};

} // namespace parking::test
