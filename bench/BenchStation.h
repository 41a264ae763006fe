#pragma once
// What the passage benchmarks share: the subscribers the rights check lets
// in, and a configuration for the station on the benchmark's database.
#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "Clock.h"
#include "Configuration.h"
#include "LargeSite.h"
#include "SiteConfig.h"

#include <QDir>
#include <QFile>

#include <vector>

namespace parking::bench {

// Up to 2,000 subscribers without a timetable that the rights check lets
// in now: the clock moving on changes nothing for them.
inline std::vector<std::int32_t> grantedSubscribers(Connection& c, const Clock& clock,
                                                    const std::vector<SubscriberSample>& subscribers)
{
    std::vector<std::int32_t> granted;
    for (const SubscriberSample& s : subscribers) {
        if (s.kind == 2 && granted.size() < 2000 && decide(records::loadAccessFacts(c, s.code, Installation, Installation), clock.now()) == AccessResult::Granted)
            granted.push_back(s.code);
    }
    return granted;
}

// Rivalto.ini in `folder` for a station of installation 1 on `sid`.
inline QString writeStationConfig(const QString& folder, const QString& sid)
{
    return test::writeSiteConfig(folder, sid, Installation);
}

// The station's configuration from `configFile`: the journal in `folder`,
// no log file, the readers' keys in `keyFile` when given.
inline Configuration benchConfiguration(const QString& configFile, const QString& folder, const QString& keyFile = {})
{
    Configuration config = readConfiguration(loadConfiguration(configFile));
    config.logFolder.clear();
    config.journalFile = QDir(folder).filePath(QStringLiteral("journal"));
    if (!keyFile.isEmpty())
        config.readerKeyFile = keyFile;
    // The local replica only when asked for (its cost is measured on its own).
    config.replica.decide = qEnvironmentVariableIntValue("PARKING_BENCH_REPLICA") == 1;
    config.replica.file = QDir(folder).filePath(QStringLiteral("replica.db"));
    return config;
}

} // namespace parking::bench
