#include "Station.h"

#include "AccessDecision.h"
#include "AccessFactsRecords.h"
#include "DatabaseError.h"
#include "FieldValue.h"
#include "Identification.h"
#include "SpaceRules.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace parking {

namespace {

const QString Thanks = QStringLiteral("GRACIAS POR SU VISITA");

} // namespace

QString cardCodeText(double number)
{
    QString result;
    double n = number;
    do {
        const double q = std::floor(n / 16);
        const int d = static_cast<int>(n - q * 16);
        result.prepend(QLatin1Char("0123456789ABCDEF"[d & 15]));
        n = q;
    } while (n > 0);
    return result;
}

Station::Station(StationRole role, EventLog& log, StationEvents& outputs, const Clock& clock,
                 const SteadyClock& steadyClock, Installation& installation, GridWriter& grid, StationDatabase& database,
                 TimerSource& timers, ReaderHub* hub)
    : number_(stationNumber(role)),
      role_(role),
      reader_(std::make_unique<ReaderControl>(QStringLiteral("KBIOMAXctl%1").arg(stationNumber(role)), hub)),
      log_(log),
      outputs_(outputs),
      clock_(clock),
      steadyClock_(steadyClock),
      installation_(installation),
      grid_(grid),
      database_(database),
      restoreTimer_(timers.make(DisplayRestoreDelay, [this] { restoreIdleText(); }))
{
    ReaderControl* r = reader_.get();
    QObject::connect(r, &ReaderControl::acted, r, [this](const ReaderAction& a) { outputs_.readerActed(role_, a); });
    QObject::connect(r, &ReaderControl::logged, r, [this](const QString& line) { log_.write(line); });
    QObject::connect(r, &ReaderControl::readerDown, r, [this] { onReaderDown(); });
    QObject::connect(r, &ReaderControl::hotReset, r, [this] { onHotReset(); });
    QObject::connect(r, &ReaderControl::trackRead, r, [this](const QString& track) { onTrackRead(track); });
    QObject::connect(r, &ReaderControl::cardNumberRead, r, [this](const QString& card) { onCardNumberRead(card); });
    QObject::connect(r, &ReaderControl::conditionChanged, r,
                     [this](const ReaderCondition& c) { outputs_.readerConditionChanged(role_, c); });
}

Station::~Station() = default;

// ---- start-up and closing ---------------------------------------------------

// The reader device's own names for the operations stay in the log
// lines, as installers know them.
void Station::openPort(const QString& portText)
{
    log_.write(reader_->name() + QStringLiteral(".OpenPortRem(") + portText + QStringLiteral(")"));
    const auto opened = reader_->open(portText);
    const ReaderStatus status = opened ? ReaderStatus::Ok : opened.error().status;
    log_.write(QStringLiteral("OpenPort %1: ").arg(number_) + QString::number(statusNumber(status)));
    if (status == ReaderStatus::LineNotOpened)
        log_.write(reader_->name() + QStringLiteral(": no se puede abrir la línea: ") + opened.error().reason);
}

void Station::setUpReader()
{
    log_.write(QStringLiteral("SetUpBiomax %1: ").arg(number_) + QString::number(statusNumber(reader_->setUp())));
    outputs_.secureChannelChanged(role_, reader_->secureChannel());
}

void Station::showIdleText()
{
    reader_->show(installation_.name());
}

void Station::closePort()
{
    log_.guard(QStringLiteral("el cierre"), [this] { reader_->close(); });
}

// ---- display ------------------------------------------------------------------

void Station::showMessage(const QString& text)
{
    reader_->show(text);
    if (!restoreTimer_->isActive())
        restoreTimer_->start();
    messageActive_ = true;
}

void Station::restoreIdleText()
{
    log_.guard(QStringLiteral("Timer%1").arg(number_ + 1), [this] {
        if (messageActive_) {
            restoreTimer_->stop();
            messageActive_ = false;
        }
        showIdleText();
    });
}

// ---- lights -------------------------------------------------------------------

void Station::reportReaderState()
{
    outputs_.readerOnline(role_, readerOnline_);
    outputs_.secureChannelChanged(role_, reader_->secureChannel());
}

void Station::resetReaderState()
{
    readerOnline_ = true;
    reportReaderState();
}

void Station::onReaderDown()
{
    readerOnline_ = false;
    reportReaderState();
}

void Station::onHotReset()
{
    readerOnline_ = true;
    reportReaderState();
    log_.write(QStringLiteral("/AnsHotReset "));
}

// ---- barrier --------------------------------------------------------------------

void Station::pulseRelay(Pulse pulse)
{
    log_.write(QStringLiteral("CloseRelay: ") + QString::number(statusNumber(reader_->pulseRelay(pulse.output, pulse.tenths))));
}

void Station::openBarrier()
{
    pulseRelay(PassagePulse);
}

void Station::openBarrierByHand()
{
    const QString where = role_ == StationRole::Entrance ? QStringLiteral("Abrir Entrada") : QStringLiteral("Abrir Salida");
    log_.guard(where, [this] { pulseRelay(ManualPulse); });
}

// ---- identification ---------------------------------------------------------------

void Station::onTrackRead(const QString& track)
{
    const bool finished = log_.guard(QStringLiteral("la lectura del lector %1").arg(number_), [&] {
        const auto identity = decodeTrack(role_, track);
        if (!identity) {
            // Nothing to identify: the read is kept as it came, nothing opens.
            log_.write(QStringLiteral("Lectura no válida en el lector %1: |%2|").arg(number_).arg(track));
            return;
        }
        log_.write(QStringLiteral("Track: ") + track + QStringLiteral("Len: ") + QString::number(track.size()));
        identified(identity->subscriber, identity->installation);
    });
    if (!finished)
        outputs_.passageEnded(role_, Outcome::Error);
}

void Station::onCardNumberRead(const QString& card)
{
    const bool finished = log_.guard(QStringLiteral("la tarjeta del lector %1").arg(number_), [&] {
        const auto number = cardNumber(card);
        if (!number) {
            log_.write(QStringLiteral("Tarjeta no válida en el lector %1: |%2|").arg(number_).arg(card));
            return;
        }
        const QString code = cardCodeText(*number);
        const auto holder = lookUpCard(code);
        if (!holder)
            return;
        log_.write(QStringLiteral("Track: ") + code + QStringLiteral("Len: ") + QString::number(code.size()));
        identified(holder->subscriber, holder->installation);
    });
    if (!finished)
        outputs_.passageEnded(role_, Outcome::Error);
}

std::optional<records::CardHolder> Station::lookUpCard(const QString& cardCode)
{
    Result<records::CardHolder> found = records::CardHolder{};
    try {
        // The code is hexadecimal digits made here, and a bound value at that.
        found = database_.call(DatabaseCall::CardLookUp,
                               [cardCode](Connection& c) { return records::lookUpCard(c, cardCode); });
    } catch (const DatabaseError& e) {
        if (auto local = offlineCard(cardCode, e))
            return local;
        // The exit is never refused: a card the database cannot name now
        // goes out as a card held by nobody. At the entrance it is a card
        // not read.
        if (role_ == StationRole::Exit) {
            log_.write(QStringLiteral("Tarjeta %1 sin buscar en el lector %2 (%3): sale como tarjeta desconocida")
                           .arg(cardCode)
                           .arg(number_)
                           .arg(e.message()));
            return records::CardHolder{};
        }
        log_.write(QStringLiteral("Tarjeta %1 no leída en el lector %2: %3").arg(cardCode).arg(number_).arg(e.message()));
        outputs_.passageEnded(role_, Outcome::Error);
        return std::nullopt;
    }
    // A row whose code or installation cannot be used counts as a card
    // held by nobody.
    if (!found) {
        log_.write(QStringLiteral("Tarjeta %1 con datos no válidos en ABONADOS: %2").arg(cardCode, found.error()));
        return records::CardHolder{};
    }
    return *found;
}

std::optional<records::CardHolder> Station::offlineCard(const QString& cardCode, const DatabaseError& fault)
{
    Replica& replica = database_.replica();
    if (!replica.enabled() || (database_.answering() && !fault.unreachable()))
        return std::nullopt;
    const auto holder = replica.cardHolder(cardCode);
    if (!holder)
        return std::nullopt;
    log_.write(QStringLiteral("Tarjeta %1 buscada en la réplica").arg(cardCode));
    return *holder;
}

void Station::identified(std::int32_t subscriber, std::uint8_t installation)
{
    subscriber_ = subscriber;
    subscriberInstallation_ = installation;
    log_.write(QStringLiteral("msId%1: ").arg(number_) + QString::number(subscriber) + QStringLiteral(" Instalacion:") +
               QString::number(installation));
    if (role_ == StationRole::Entrance)
        admitEntrance();
    else
        letOut();
}

// ---- decision and passage -----------------------------------------------------------

AccessResult Station::authorize(const AccessFacts& facts)
{
    installation_.setLastAccessResult(AccessResult::Granted);
    const AccessResult r = decide(facts, clock_.now());
    installation_.setLastAccessResult(r);
    if (const auto message = installation_.refusalMessage(r)) {
        showMessage(*message);
        grid_.add(role_, *message, subscriber_, installation_.lastAccessResult() != AccessResult::Granted);
    }
    return r;
}

void Station::admitEntrance()
{
    MovementRecorder& recorder = database_.recorder();
    // One round trip: the free spaces and everything the decision needs.
    const auto decisionStarted = steadyClock_.now();
    std::optional<AccessFacts> offline;
    AccessFacts facts;
    try {
        facts = database_.call(DatabaseCall::Decision, [subscriber = subscriber_, installation = subscriberInstallation_,
                                                        site = installation_.code()](Connection& c) {
            return records::loadAccessFacts(c, subscriber, installation, site);
        });
    } catch (const DatabaseError& e) {
        offline = offlineFacts(e);
        if (!offline)
            throw;
        facts = std::move(*offline);
    }
    if (offline) {
        // The count offline: the last one known, less this gate's own
        // entrances and plus its own exits since.
        facts.freeSpaces = installation_.freeSpaces();
    }
    if (!facts.freeSpaces)
        throw DatabaseError(DatabaseFault::NoCurrentRow);
    installation_.setFreeSpaces(toInt16(*facts.freeSpaces));
    if (installation_.freeSpaces() <= 0) {
        outputs_.passageEnded(role_, Outcome::Full);
        reader_->signalRefusal();
        outputs_.alerted({Alert::Kind::CarParkFull, QStringLiteral("NO HAY PLAZAS LIBRES")});
        return;
    }
    const AccessResult decision = authorize(facts);
    outputs_.decisionMade(steadyClock_.now() - decisionStarted);
    if (offline)
        saidOffline(decision);
    if (decision != AccessResult::Granted) {
        outputs_.passageEnded(role_, outcomeOf(decision));
        reader_->signalRefusal();
        return;
    }

    // Granted: from here on the subscriber goes in even if the database
    // stops answering; what cannot be written waits in the journal.
    log_.write(QStringLiteral("ID = ") + QString::number(subscriber_));
    const QString message = installation_.grantedMessage();
    const auto recorded = recorder.recordEntrance(subscriber_, subscriberInstallation_);
    if (!recorded.kept) {
        // Neither the database nor the journal would know the car is in.
        log_.write(QStringLiteral("ATENCIÓN: la entrada de %1 no se puede registrar ni en la base de datos ni en el "
                                  "diario: no se abre")
                       .arg(subscriber_));
        outputs_.passageEnded(role_, Outcome::Error);
        return;
    }
    const int left = recorded.left ? *recorded.left : spaces::afterEntrance(installation_.freeSpaces());
    if (database_.replica().enabled())
        installation_.setFreeSpaces(static_cast<std::int16_t>(left));
    outputs_.freeSpacesChanged(left);
    openBarrier();
    outputs_.passageEnded(role_, Outcome::Granted);
    grid_.add(role_, message, subscriber_, installation_.lastAccessResult() != AccessResult::Granted);
    showMessage(message);
}

std::optional<AccessFacts> Station::offlineFacts(const DatabaseError& fault)
{
    Replica& replica = database_.replica();
    // A fault of the statement itself, the server answering, is no outage.
    if (!replica.enabled() || (database_.answering() && !fault.unreachable()))
        return std::nullopt;
    auto facts = replica.facts(subscriber_, subscriberInstallation_, installation_.code());
    if (!facts) {
        log_.write(QStringLiteral("Sin decisión sin conexión para %1 (%2): %3")
                       .arg(subscriber_)
                       .arg(fault.message(), facts.error()));
        return std::nullopt;
    }
    return std::move(*facts);
}

void Station::saidOffline(AccessResult decision)
{
    const qint64 age = database_.replica().ageSeconds().value_or(0);
    log_.write(QStringLiteral("Decisión sin conexión: %1 para %2 (réplica de hace %3 min)")
                   .arg(decision == AccessResult::Granted ? QStringLiteral("entra")
                                                          : QStringLiteral("no entra (%1)").arg(int(decision)))
                   .arg(subscriber_)
                   .arg(age / 60));
    outputs_.offlineDecision(role_, outcomeOf(decision));
}

void Station::letOut()
{
    MovementRecorder& recorder = database_.recorder();
    // The exit is never refused, and a car is never kept in: the barrier
    // opens whatever the database says.
    log_.write(QStringLiteral("ID = ") + QString::number(subscriber_));
    const QString message = fixedText(Thanks, Installation::MessageWidth);
    const auto recorded = recorder.recordExit(subscriber_, subscriberInstallation_);
    if (database_.replica().enabled()) {
        // Kept for the entrances decided offline: the server's count while
        // it answers, this gate's own exits while it does not.
        const int left = recorded.left ? *recorded.left
                                       : spaces::afterExit(installation_.freeSpaces(),
                                                           installation_.capacity().value_or(INT16_MAX));
        installation_.setFreeSpaces(static_cast<std::int16_t>(left));
        outputs_.freeSpacesChanged(left);
    } else if (recorded.left) {
        outputs_.freeSpacesChanged(*recorded.left);
    }
    if (!recorded.kept) {
        // Trapping a car is worse than losing its exit.
        log_.write(QStringLiteral("ATENCIÓN: la salida de %1 no se puede registrar ni en la base de datos ni en el "
                                  "diario: se abre, y esta salida puede perderse")
                       .arg(subscriber_));
    }
    openBarrier();
    outputs_.passageEnded(role_, Outcome::Granted);
    grid_.add(role_, message, subscriber_, installation_.lastAccessResult() != AccessResult::Granted);
    showMessage(message);
}

} // namespace parking
