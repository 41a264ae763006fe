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

Station::Station(int number, EventLog& log, StationView& outputs, const Clock& clock, Installation& installation,
                 GridWriter& grid, StationDatabase& database, TimerSource& timers, ReaderHub* hub)
    : number_(number),
      role_(roleOf(number)),
      reader_(std::make_unique<ReaderControl>(QStringLiteral("KBIOMAXctl%1").arg(number), number, hub)),
      log_(log),
      outputs_(outputs),
      clock_(clock),
      installation_(installation),
      grid_(grid),
      database_(database),
      restoreTimer_(timers.make(DisplayRestoreDelay, [this] { restoreIdleText(); }))
{
    ReaderControl* r = reader_.get();
    QObject::connect(r, &ReaderControl::traced, r, [this](const QString& what) { outputs_.readerTraced(what); });
    QObject::connect(r, &ReaderControl::logged, r, [this](const QString& line) { log_.write(line); });
    QObject::connect(r, &ReaderControl::ReaderDown, r, [this] { onReaderDown(); });
    QObject::connect(r, &ReaderControl::AnsHotReset, r, [this] { onHotReset(); });
    QObject::connect(r, &ReaderControl::TrackRead, r,
                     [this](const QString&, const QString&, const QString& track) { onTrackRead(track); });
    QObject::connect(r, &ReaderControl::CardNumberRead, r, [this](const QString& card) { onCardNumberRead(card); });
    QObject::connect(r, &ReaderControl::conditionChanged, r, [this](const ReaderCondition& c) {
        outputs_.readerConditionChanged(number_, c.known ? std::optional(c.tamper) : std::nullopt,
                                                c.known ? std::optional(c.powerOk) : std::nullopt, c.installKeyOnly);
    });
}

Station::~Station() = default;

// ---- start-up and closing ---------------------------------------------------

void Station::openPort(const QString& portText)
{
    log_.write(reader_->name() + QStringLiteral(".OpenPortRem(") + portText + QStringLiteral(")"));
    log_.write(QStringLiteral("OpenPort %1: ").arg(number_) + QString::number(reader_->OpenPortRem(portText)));
    if (const QString why = reader_->openFault(); !why.isEmpty())
        log_.write(reader_->name() + QStringLiteral(": no se puede abrir la línea: ") + why);
}

void Station::setUpReader()
{
    log_.write(QStringLiteral("SetUpBiomax %1: ").arg(number_) + QString::number(reader_->SetUpBiomax()));
    outputs_.secureChannelChanged(number_, reader_->secureChannel());
}

void Station::showIdleText()
{
    const QString& idle = installation_.name();
    reader_->WriteDisplay(idle);
    outputs_.displayShown(number_, idle);
}

void Station::closePort()
{
    log_.guard(QStringLiteral("el cierre"), [this] { reader_->ClosePort(); });
}

// ---- display ------------------------------------------------------------------

void Station::showMessage(const QString& text)
{
    reader_->WriteDisplay(text);
    outputs_.displayShown(number_, text);
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

void Station::showLights()
{
    // The green light is what "online" means, on the page as in the window.
    outputs_.setLights(number_, green_, red_);
    outputs_.secureChannelChanged(number_, reader_->secureChannel());
}

void Station::resetLights()
{
    red_ = false;
    green_ = true;
    showLights();
}

void Station::onReaderDown()
{
    red_ = true;
    green_ = false;
    showLights();
}

void Station::onHotReset()
{
    // The red light stays under the green one.
    green_ = true;
    showLights();
    log_.write(QStringLiteral("/AnsHotReset "));
}

// ---- barrier --------------------------------------------------------------------

void Station::pulseRelay(Pulse pulse)
{
    log_.write(QStringLiteral("CloseRelay: ") + QString::number(reader_->CloseRelay(pulse.output, pulse.tenths)));
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
        const auto identity = decodeTrack(number_, track);
        if (!identity) {
            // Nothing to identify: the read is kept as it came, nothing opens.
            log_.write(QStringLiteral("Lectura no válida en el lector %1: |%2|").arg(number_).arg(track));
            return;
        }
        log_.write(QStringLiteral("Track: ") + track + QStringLiteral("Len: ") + QString::number(track.size()));
        identified(identity->subscriber, identity->installation);
    });
    if (!finished)
        outputs_.passageCounted(number_, outcome::Error);
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
        outputs_.passageCounted(number_, outcome::Error);
}

std::optional<records::CardHolder> Station::lookUpCard(const QString& cardCode)
{
    records::CardLookUp found;
    try {
        // The code is hexadecimal digits made here, and a bound value at that.
        found = database_.call(DatabaseCall::CardLookUp,
                               [cardCode](Connection& c) { return records::lookUpCard(c, cardCode); });
    } catch (const DatabaseError& e) {
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
        outputs_.passageCounted(number_, outcome::Error);
        return std::nullopt;
    }
    if (!found.fault.isEmpty())
        log_.write(QStringLiteral("Tarjeta %1 con datos no válidos en ABONADOS: %2").arg(cardCode, found.fault));
    return found.holder;
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
        grid_.add(number_, *message, subscriber_, installation_.lastAccessResult() != AccessResult::Granted);
    }
    return r;
}

void Station::admitEntrance()
{
    MovementRecorder& recorder = database_.recorder();
    // One round trip: the free spaces and everything the decision needs.
    const auto decisionStarted = std::chrono::steady_clock::now();
    const AccessFacts facts = database_.call(
        DatabaseCall::Decision,
        [subscriber = subscriber_, installation = subscriberInstallation_, site = installation_.code()](Connection& c) {
            return records::loadAccessFacts(c, subscriber, installation, site);
        });
    if (!facts.freeSpaces)
        throw DatabaseError(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted"));
    installation_.setFreeSpaces(toInt16(*facts.freeSpaces));
    if (installation_.freeSpaces() <= 0) {
        outputs_.passageCounted(number_, outcome::Full);
        reader_->signalRefusal();
        outputs_.alert(QStringLiteral("NO HAY PLAZAS LIBRES"), ApplicationTitle, AlertIcon::None);
        return;
    }
    const AccessResult decision = authorize(facts);
    outputs_.decisionTimed(std::chrono::duration<double>(std::chrono::steady_clock::now() - decisionStarted).count());
    if (decision != AccessResult::Granted) {
        outputs_.passageCounted(number_, outcomeName(decision));
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
        outputs_.passageCounted(number_, outcome::Error);
        return;
    }
    outputs_.setFreeSpacesCaption(recorded.left ? *recorded.left : spaces::afterEntrance(installation_.freeSpaces()));
    openBarrier();
    outputs_.passageCounted(number_, outcome::Granted);
    grid_.add(number_, message, subscriber_, installation_.lastAccessResult() != AccessResult::Granted);
    showMessage(message);
}

void Station::letOut()
{
    MovementRecorder& recorder = database_.recorder();
    // The exit is never refused, and a car is never kept in: the barrier
    // opens whatever the database says.
    log_.write(QStringLiteral("ID = ") + QString::number(subscriber_));
    const QString message = fixedText(Thanks, Installation::MessageWidth);
    const auto recorded = recorder.recordExit(subscriber_, subscriberInstallation_);
    if (recorded.left)
        outputs_.setFreeSpacesCaption(*recorded.left);
    if (!recorded.kept) {
        // Trapping a car is worse than losing its exit.
        log_.write(QStringLiteral("ATENCIÓN: la salida de %1 no se puede registrar ni en la base de datos ni en el "
                                  "diario: se abre, y esta salida puede perderse")
                       .arg(subscriber_));
    }
    openBarrier();
    outputs_.passageCounted(number_, outcome::Granted);
    grid_.add(number_, message, subscriber_, installation_.lastAccessResult() != AccessResult::Granted);
    showMessage(message);
}

} // namespace parking
