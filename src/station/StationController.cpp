#include "StationController.h"

#include "FreeSpaceCounter.h"
#include "SiteRecords.h"
#include "SpaceRules.h"
#include "StatementWarmUp.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTimer>

#include <algorithm>

namespace parking {

namespace {

// What a file holds, to tell whether it changed (empty: none or unreadable).
QByteArray fileDigest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

} // namespace

StationController::StationController(Configuration config, const Clock& workstationClock, ConnectionFactory factory,
                                     TimerSource& timers, QObject* parent, const SteadyClock& steadyClock)
    : QObject(parent),
      config_(std::move(config)),
      timers_(timers),
      log_(config_.logFolder, workstationClock, outputs_),
      status_(workstationClock, QCoreApplication::applicationVersion()),
      journal_(config_.journalFile, [this](std::size_t pending) { outputs_.journalPendingChanged(pending); }),
      monitor_(std::move(factory), log_, workstationClock, timers, outputs_),
      installation_(config_.installation),
      grid_(workstationClock, outputs_),
      database_(monitor_, log_, workstationClock, steadyClock, config_.installation, config_.replica),
      hub_(config_.readerKeyFile),
      stations_{std::make_unique<Station>(StationRole::Entrance, log_, outputs_, workstationClock, steadyClock,
                                          installation_, grid_, database_, timers, &hub_),
                std::make_unique<Station>(StationRole::Exit, log_, outputs_, workstationClock, steadyClock,
                                          installation_, grid_, database_, timers, &hub_)}
{
    outputs_.subscribe(&statusView_);
    if (database_.replica().enabled()) {
        replicaTimer_ = timers_.make(config_.replica.refresh, [this] { refreshReplica(); });
        database_.replica().setChanged([this] { replicaChanged(); });
    }
    // Writes left waiting go to the database as soon as it answers again.
    monitor_.setAfterProbe([this] {
        drainSlice();
        // Off the passage path: old keys go in small batches, after a probe.
        if (database_.connected())
            database_.recorder().pruneUnitKeys(config_.unitKeyDays);
    });
}

StationController::~StationController() = default;

void StationController::drainSlice()
{
    if (!database_.connected() || !database_.recorder().pending())
        return;
    // A long journal goes in slices, with the event loop in between: a read
    // that arrives meanwhile waits for one slice, not for the whole backlog.
    if (database_.recorder().drainFor(DrainSlice) == MovementRecorder::Drained::Paused && !closed_)
        QTimer::singleShot(0, this, [this] { drainSlice(); });
}

void StationController::setView(StationEvents* view)
{
    outputs_.unsubscribe(view_);
    view_ = view;
    outputs_.subscribe(view_);
}

void StationController::setTraceSink(std::function<void(const QString&)> sink)
{
    // The trace hears of each event first, the status board next, the
    // window last.
    outputs_.unsubscribe(trace_.get());
    outputs_.unsubscribe(&statusView_);
    outputs_.unsubscribe(view_);
    trace_ = sink ? std::make_unique<TraceView>(std::move(sink)) : nullptr;
    outputs_.subscribe(trace_.get());
    outputs_.subscribe(&statusView_);
    outputs_.subscribe(view_);
}

// ---- start-up and closing -------------------------------------------------

StationController::StartUp StationController::start(const QString& configurationFault)
{
    // The probe and both display-restore timers run from the moment the
    // window exists.
    monitor_.startProbing();
    for (auto& s : stations_)
        s->startRestoreTimer();
    for (auto& s : stations_)
        s->resetReaderState();

    if (!configurationFault.isEmpty()) {
        outputs_.alerted({Alert::Kind::BadConfiguration, configurationFault});
        return StartUp::Fatal;
    }
    if (!monitor_.connect(config_.database))
        return StartUp::Fatal;
    journal_.load();
    database_.connectRecorder(journal_);
    // Writes left from an earlier run go to the database first; nothing
    // waits on start-up yet, so each may take start-up's time.
    if (database_.recorder().pending())
        database_.recorder().drain(DatabaseCall::StartUp);
    try {
        return bringIntoService();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        log_.write(QStringLiteral("ERROR en el arranque: ") + QString::fromUtf8(e.what()));
        return StartUp::NoStations;
    }
}

StationController::StartUp StationController::bringIntoService()
{
    // Asked now, so that no passage waits for the catalogue.
    database_.recorder().lookForUnitsTable();
    const auto readerRow = database_.call(DatabaseCall::StartUp, [code = installation_.code()](Connection& c) {
        return records::loadReaderRow(c, code);
    });
    if (!readerRow) {
        closeOnMissingRow(QStringLiteral("Lector"));
        return StartUp::WindowClosed;
    }
    installation_.setMessages(readerRow->messages);
    if (readerRow->readers && *readerRow->readers == 0)
        return StartUp::NoStations;

    const auto site = database_.call(DatabaseCall::StartUp, [code = installation_.code()](Connection& c) {
        return records::loadSiteRow(c, code);
    });
    if (!site) {
        closeOnMissingRow(QStringLiteral("Instalaciones"));
        return StartUp::WindowClosed;
    }
    // The first car waits no longer than the next: its statements are
    // prepared now. A server that fails this fails the first passage too,
    // which says so; start-up goes on.
    try {
        database_.call(DatabaseCall::StartUp,
                       [code = installation_.code()](Connection& c) { records::warmUpStatements(c, code); });
    } catch (const DatabaseError&) {
    }
    installation_.setName(site->name);
    installation_.setFreeSpaces(site->freeSpaces);
    installation_.setCapacity(site->capacity);
    outputs_.installationRead(installation_.name(), site->capacity ? *site->capacity : -1, installation_.freeSpaces());
    ports_ = {readerRow->entrancePort, readerRow->exitPort};
    keyFileDigest_ = fileDigest(config_.readerKeyFile);
    station(StationRole::Entrance).openPort(readerRow->entrancePort);
    station(StationRole::Exit).openPort(readerRow->exitPort);
    for (auto& s : stations_)
        s->setUpReader();
    for (auto& s : stations_)
        s->showIdleText();

    outputs_.freeSpacesChanged(installation_.freeSpaces());
    grid_.prepare();
    // The exit's restore timer keeps running from start-up: the first
    // message at the exit may stay for less than the full delay.
    station(StationRole::Entrance).stopRestoreTimer();
    inService_ = true;
    outputs_.inServiceChanged(true);
    if (replicaTimer_) {
        // The copy on disk decides until the first refresh has replaced it.
        database_.replica().load();
        refreshReplica();
        replicaTimer_->start();
    }
    return StartUp::InService;
}

void StationController::refreshReplica()
{
    // A server that does not answer is not asked for a copy.
    if (monitor_.database().answering())
        database_.replica().refresh();
}

void StationController::replicaChanged()
{
    const Replica& replica = database_.replica();
    ReplicaState state;
    state.enabled = replica.enabled();
    if (replica.info()) {
        state.refreshedAt = replica.info()->refreshedAt;
        state.completeAt = replica.info()->completeAt;
    }
    state.maxAgeSeconds = std::chrono::duration_cast<std::chrono::seconds>(replica.settings().maxAge).count();
    if (const auto took = replica.lastRefreshTook())
        state.refreshSeconds = took->count();
    outputs_.replicaChanged(state);
}

void StationController::closeOnMissingRow(const QString& table)
{
    log_.write(QStringLiteral("No hay fila de %1 para la instalación %2").arg(table).arg(installation_.code()));
    close();
}

void StationController::close()
{
    if (closed_)
        return;
    closed_ = true;
    // Every open line is closed, so a reader's bus is left quiet.
    for (auto& s : stations_)
        s->closePort();
    monitor_.stopProbing();
    for (auto& s : stations_)
        s->stopRestoreTimer();
    inService_ = false;
    outputs_.inServiceChanged(false);
    outputs_.stationsClosed();
    emit closed();
}

// ---- the operator's actions -------------------------------------------------

void StationController::openBarrierByHand(StationRole role)
{
    station(role).openBarrierByHand();
}

std::optional<std::int16_t> StationController::setFreeSpacesByHand(const QString& text)
{
    std::optional<std::int16_t> result;
    log_.guard(QStringLiteral("Actualiza"), [this, &result, &text] {
        // Only a whole number from 0 up reaches the database.
        const spaces::Typed typed = spaces::readTypedCount(text);
        const std::optional<std::int16_t> requested = typed.count;
        if (typed.malformed)
            log_.write(QStringLiteral("Plazas no válidas en Actualiza Plazas: |%1|").arg(text));
        const auto set = requested ? database_.call(DatabaseCall::FreeSpaces,
                                                    [site = installation_.code(), n = *requested](Connection& c) {
                                                        return records::FreeSpaceCounter(c, site).set(n);
                                                    })
                                   : std::nullopt;
        if (set) {
            outputs_.freeSpacesChanged(*set);
            result = set;
            return;
        }
        outputs_.alerted({Alert::Kind::SpacesNotUpdated, QStringLiteral("NO SE PUEDEN ACTUALIZAR LAS PLAZAS")});
        outputs_.freeSpacesSettingRefused();
    });
    return result;
}

// ---- a reload ---------------------------------------------------------------

void StationController::applyReplicaSettings(const ReplicaSettings& next)
{
    const bool wasDeciding = database_.replica().enabled();
    database_.replica().setSettings(next);
    replicaTimer_.reset();
    if (database_.replica().enabled()) {
        replicaTimer_ = timers_.make(next.refresh, [this] { refreshReplica(); });
        database_.replica().setChanged([this] { replicaChanged(); });
        if (inService_) {
            if (!wasDeciding) {
                database_.replica().load();
                refreshReplica();
            }
            replicaTimer_->start();
        }
    }
    replicaChanged();
}

void StationController::reopenReader(StationRole role, const QString& portText)
{
    Station& s = station(role);
    s.closePort();
    s.openPort(portText);
    s.setUpReader();
    s.showIdleText();
    ports_[roleIndex(role)] = portText;
}

StationController::Reconfigured StationController::reconfigure(const Configuration& next)
{
    Reconfigured result;
    auto restart = [&](bool differs, const char* key) {
        if (differs)
            result.restartNeeded << QString::fromLatin1(key);
    };
    restart(next.database.dataSource != config_.database.dataSource, "[Conexion] SID");
    restart(next.database.credentialsFile != config_.database.credentialsFile, "[Conexion] Credenciales");
    restart(next.database.readWait != config_.database.readWait, "[Conexion] Espera");
    restart(next.database.writeWait != config_.database.writeWait, "[Conexion] EsperaEscritura");
    restart(next.installation != config_.installation, "[Impresoras] Instalacion");
    restart(next.journalFile != config_.journalFile, "[Registro] Diario");
    restart(next.replica.file != config_.replica.file, "[SinConexion] Fichero");

    if (next.logFolder != config_.logFolder) {
        log_.setFolder(next.logFolder);
        result.applied << QStringLiteral("[Registro] Carpeta");
    }
    if (next.unitKeyDays != config_.unitKeyDays)
        result.applied << QStringLiteral("[Registro] DiasClavesDiario");
    const ReplicaSettings& was = config_.replica;
    if (next.replica.decide != was.decide || next.replica.refresh != was.refresh || next.replica.maxAge != was.maxAge) {
        applyReplicaSettings(next.replica);
        result.applied << QStringLiteral("[SinConexion]");
    }
    const bool keyFileMoved = next.readerKeyFile != config_.readerKeyFile;
    if (keyFileMoved) {
        hub_.setKeyFile(next.readerKeyFile);
        result.applied << QStringLiteral("[Lectores] Claves");
    }
    const QByteArray digest = fileDigest(next.readerKeyFile);
    const bool keysChanged = keyFileMoved || digest != keyFileDigest_;

    // What stays as it was, whatever the file says.
    const Configuration running = config_;
    config_ = next;
    config_.database = running.database;
    config_.installation = running.installation;
    config_.journalFile = running.journalFile;
    config_.replica.file = running.replica.file;

    if (!inService_)
        return result;
    std::optional<records::ReaderRow> row;
    try {
        row = database_.call(DatabaseCall::FreeSpaces, [code = installation_.code()](Connection& c) {
            return records::loadReaderRow(c, code);
        });
    } catch (const DatabaseError& e) {
        result.applied << QStringLiteral("fila de Lector no leída (%1): los lectores siguen como estaban").arg(e.message());
        return result;
    }
    if (!row) {
        result.applied << QStringLiteral("no hay fila de Lector: los lectores siguen como estaban");
        return result;
    }
    keyFileDigest_ = digest;
    if (row->messages != installation_.messages()) {
        installation_.setMessages(row->messages);
        result.applied << QStringLiteral("mensajes de Lector");
    }
    const std::pair<StationRole, QString> wanted[] = {{StationRole::Entrance, row->entrancePort},
                                                      {StationRole::Exit, row->exitPort}};
    for (const auto& [role, port] : wanted) {
        const SecureChannelState channel = station(role).reader().secureChannel();
        const bool secure = channel == SecureChannelState::Waiting || channel == SecureChannelState::Established;
        if (port == ports_[roleIndex(role)] && !(keysChanged && secure))
            continue;
        reopenReader(role, port);
        result.applied << QStringLiteral("lector de %1: %2")
                              .arg(role == StationRole::Entrance ? QStringLiteral("entrada") : QStringLiteral("salida"), port);
    }
    return result;
}

} // namespace parking
