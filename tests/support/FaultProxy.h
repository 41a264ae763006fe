#pragma once
// scripts/fault_proxy.py in front of the PostgreSQL test server, ordered
// through its standard input, and the ports of the data sources in ODBCINI
// ([parking_test] is the server itself, [parking_test_proxy] the proxy).
#include "IniFile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>

namespace parking::test {

inline int dataSourcePort(const char* name)
{
    return IniFile::load(qEnvironmentVariable("ODBCINI")).value(QLatin1String(name), QStringLiteral("Port")).toInt();
}

class FaultProxy {
public:
    bool start(int listen, int target)
    {
        process_.start(QStringLiteral("python3"),
                       {QStringLiteral(PARKING_SOURCE_DIR "/scripts/fault_proxy.py"), QStringLiteral("--target"),
                        QStringLiteral("127.0.0.1:%1").arg(target), QStringLiteral("--listen"), QString::number(listen)});
        return process_.waitForStarted(10000) && line().startsWith(QLatin1String("listening"));
    }
    // Between the test server and the data source that names the proxy.
    bool startForTestServer() { return start(dataSourcePort("parking_test_proxy"), dataSourcePort("parking_test")); }
    QString order(const QString& text)
    {
        process_.write(text.toUtf8() + '\n');
        return line();
    }
    // The next line the proxy prints of its own ("stalled"), waited for at
    // most `ms`.
    QString line(int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!process_.canReadLine() && t.elapsed() < ms)
            process_.waitForReadyRead(100);
        return QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~FaultProxy()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }

private:
    QProcess process_;
};

} // namespace parking::test
