#include "Replica.h"

#include "AccessFactsRecords.h"
#include "DatabaseError.h"
#include "SqliteConnection.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace parking {

// The server's clock as the replica stands in for it: the workstation's,
// corrected by the offset measured at the refresh.
class Replica::ServerClock final : public Clock {
public:
    ServerClock(const Clock& workstation, qint64 offsetMs) : workstation_(workstation), offsetMs_(offsetMs) {}
    QDateTime now() const override { return workstation_.now().addMSecs(offsetMs_); }

private:
    const Clock& workstation_;
    qint64 offsetMs_;
};

namespace {

QString newPath(const QString& path)
{
    return path + QStringLiteral(".new");
}

// The rename is on disk once the folder is.
void syncFolder(const QString& path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString ageText(qint64 seconds)
{
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 7200)
        return QStringLiteral("%1 min").arg(seconds / 60);
    return QStringLiteral("%1 h").arg(seconds / 3600);
}

} // namespace

Replica::Replica(ReplicaSettings settings, std::int16_t installation, Database& database, const Clock& clock,
                 const SteadyClock& steadyClock, std::function<void(const QString&)> log)
    : settings_(std::move(settings)), installation_(installation), database_(database), clock_(clock),
      steadyClock_(steadyClock), log_(std::move(log))
{
}

Replica::~Replica() = default;

void Replica::load()
{
    connection_.reset();
    info_.reset();
    if (!enabled() || !QFileInfo::exists(settings_.file))
        return;
    try {
        auto clock = std::make_unique<ServerClock>(clock_, 0);
        auto connection = std::make_unique<SqliteConnection>(*clock, QString());
        ConnectionOptions options;
        options.readOnly = true;
        connection->open(QStringLiteral("Data Source=sqlite:") + settings_.file, options);
        const auto info = records::readReplicaInfo(*connection);
        if (!info || info->installation != installation_)
            throw DatabaseError(QStringLiteral("not a replica of installation %1").arg(installation_));
        // SYSDATE from now on is the server's, as measured at the refresh.
        serverClock_ = std::make_unique<ServerClock>(clock_, info->serverOffsetMs);
        connection.reset();
        connection = std::make_unique<SqliteConnection>(*serverClock_, QString());
        connection->open(QStringLiteral("Data Source=sqlite:") + settings_.file, options);
        connection_ = std::move(connection);
        info_ = info;
    } catch (const DatabaseError& e) {
        log_(QStringLiteral("Réplica %1 no válida (%2): no se decide sin conexión hasta el próximo refresco")
                 .arg(settings_.file, e.message()));
    }
    if (changed_)
        changed_();
}

bool Replica::nextIsComplete() const
{
    if (!info_ || !connection_ || forceComplete_)
        return true;
    const auto every = std::min<std::chrono::seconds>(CompleteEvery, settings_.maxAge / 2);
    if (info_->completeAt.secsTo(clock_.now()) >= every.count())
        return true;
    // The copy holds last month's entries and this one's: a new month
    // shifts what it must hold.
    const QDate copied = info_->serverTime().date();
    const QDate now = clock_.now().addMSecs(info_->serverOffsetMs).date();
    return copied.year() != now.year() || copied.month() != now.month();
}

void Replica::setSettings(const ReplicaSettings& settings)
{
    const QString file = settings_.file;
    settings_ = settings;
    settings_.file = file;
}

void Replica::refresh()
{
    if (!enabled() || refreshing_)
        return;
    refreshing_ = true;
    const QString building = newPath(settings_.file);
    QFile::remove(building); // what a refresh cut short by a kill left
    const auto started = steadyClock_.now();
    // The workstation's clock is read here, on this thread, for the offset
    // to the server's: the work runs on another.
    const QDateTime now = clock_.now();
    const bool complete = nextIsComplete();
    std::function<void(Connection&)> work;
    if (complete) {
        work = [building, installation = installation_, now](Connection& server) {
            records::buildReplica(server, building, installation, now);
        };
    } else {
        work = [building, current = settings_.file, previous = *info_, now](Connection& server) {
            records::copyReplica(current, building);
            records::updateReplica(server, building, previous, now);
        };
    }
    database_.runAside(DatabaseCall::Replica, Database::ReplicaLimit, std::move(work),
                       [this, started, complete](std::exception_ptr error) { refreshed(error, started, complete); });
}

void Replica::refreshed(std::exception_ptr error, SteadyClock::TimePoint started, bool complete)
{
    refreshing_ = false;
    const QString building = newPath(settings_.file);
    if (error) {
        QFile::remove(building);
        QString why;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            why = QString::fromUtf8(e.what());
        } catch (...) {
            why = QStringLiteral("error desconocido");
        }
        // An incremental refresh that fails on the copy itself (damaged,
        // gone) is not tried again: the next one starts afresh.
        if (!complete)
            forceComplete_ = true;
        log_(QStringLiteral("Réplica: no se pudo refrescar (%1); sigue la anterior").arg(why));
        return;
    }
    lastTook_ = steadyClock_.now() - started;
    // The old file stays open for a decision under way until load() below.
    if (std::rename(QFile::encodeName(building).constData(), QFile::encodeName(settings_.file).constData()) != 0) {
        QFile::remove(building);
        log_(QStringLiteral("Réplica: no se puede poner en su sitio %1; sigue la anterior").arg(settings_.file));
        return;
    }
    syncFolder(settings_.file);
    if (complete)
        forceComplete_ = false;
    load();
}

std::optional<qint64> Replica::ageSeconds() const
{
    if (!info_)
        return std::nullopt;
    return std::max<qint64>(0, info_->refreshedAt.secsTo(clock_.now()));
}

Result<Connection*> Replica::usable()
{
    if (!enabled())
        return failure(QStringLiteral("sin réplica ([SinConexion] Decidir=0)"));
    if (!connection_ || !info_)
        return failure(QStringLiteral("no hay réplica"));
    const qint64 age = *ageSeconds();
    const qint64 limit = std::chrono::duration_cast<std::chrono::seconds>(settings_.maxAge).count();
    if (age > limit)
        return failure(QStringLiteral("la réplica tiene %1, más que EdadMaxima=%2 h")
                           .arg(ageText(age))
                           .arg(settings_.maxAge.count()));
    return connection_.get();
}

Result<AccessFacts> Replica::facts(std::int32_t subscriber, std::int32_t installation, std::int16_t site)
{
    const auto connection = usable();
    if (!connection)
        return failure(connection.error());
    try {
        return records::loadAccessFacts(**connection, subscriber, installation, site);
    } catch (const DatabaseError& e) {
        return failure(QStringLiteral("la réplica no se puede leer: %1").arg(e.message()));
    }
}

Result<records::CardHolder> Replica::cardHolder(const QString& cardCode)
{
    const auto connection = usable();
    if (!connection)
        return failure(connection.error());
    try {
        return records::lookUpCard(**connection, cardCode);
    } catch (const DatabaseError& e) {
        return failure(QStringLiteral("la réplica no se puede leer: %1").arg(e.message()));
    }
}

} // namespace parking
