#pragma once
// The program running headless on a demo site of its own until stopped.
#include "DemoSite.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace parking::test {

// The demo site in a folder of its own, with a status section, and the
// program running on it until stopped.
class RunningStation {
public:
    explicit RunningStation(const QString& statusSection, const QString& script = {})
    {
        parking::SettableClock clock;
        site_ = parking::createDemoSite(dir_.path(), clock);
        QFile ini(site_.configPath);
        ini.open(QIODevice::Append);
        ini.write(statusSection.toUtf8());
        ini.close();
        QStringList args{QStringLiteral("--headless"), QStringLiteral("--config"), site_.configPath};
        if (!script.isEmpty()) {
            const QString path = QDir(dir_.path()).filePath(QStringLiteral("reads.script"));
            writeFile(path, script);
            args << QStringLiteral("--script") << path;
        }
        // Standard error too: a sanitizer's report at exit must show in a failure.
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral(PARKING_STATION_BINARY), args);
        process_.waitForStarted();
    }
    ~RunningStation()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    bool waitFor(const QString& prefix, int count = 1) { return waitForLine(process_, out_, prefix, 15000, count); }
    const QString& out() const { return out_; }
    QString folder() const { return dir_.path(); }
    const parking::DemoSite& site() const { return site_; }
    qint64 pid() const { return process_.processId(); }
    // SIGTERM, as systemd stops it; the exit status.
    int stop()
    {
        process_.terminate();
        if (!process_.waitForFinished(15000))
            return -1;
        out_ += QString::fromUtf8(process_.readAllStandardOutput());
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -2;
    }

private:
    QTemporaryDir dir_;
    parking::DemoSite site_;
    QProcess process_;
    QString out_;
};

} // namespace parking::test
