#include "OsdpTransport.h"
#include "Overloaded.h"

#include <algorithm>
#include <mutex>

namespace parking::osdp {

namespace {

// A sealed osdp_TEXT: header, security block, code, MAC and CRC around
// the encrypted record (six bytes before the characters, one of padding).
constexpr int SealedTextOverhead = 14;
constexpr int TextRecordHead = 6;

QString paddedRow(const QString& text, int row, int columns)
{
    return text.mid(row * columns, columns).leftJustified(columns, QLatin1Char(' '), true);
}

// One row's osdp_TEXT commands, each of at most `maxChars` characters.
std::vector<TextCommand> rowPieces(const QString& part, int row, int maxChars)
{
    std::vector<TextCommand> out;
    const QByteArray latin = part.toLatin1();
    for (qsizetype from = 0; from < latin.size(); from += maxChars) {
        const QByteArray piece = latin.mid(from, maxChars);
        out.push_back(TextCommand{0, TextControl::PermanentNoWrap, 0, static_cast<std::uint8_t>(row + 1),
                                  static_cast<std::uint8_t>(from + 1), Bytes(piece.begin(), piece.end())});
    }
    return out;
}

} // namespace

OutputCommand relayPulse(std::uint8_t output, std::uint8_t tenths)
{
    return {output, OutputControl::TemporaryOn, tenths};
}

LedCommand temporaryLed(LedColour colour, std::uint8_t tenths)
{
    // Reader 0, LED 0: the colour steadily for the timer, the permanent state untouched.
    return {0, 0, TemporaryLed{TemporaryLedControl::Set, 1, 0, colour, colour, tenths}, PermanentLed{}};
}

BuzzerCommand refusalBeep()
{
    // Reader 0, the default tone, 0.2 s on, 0.1 s off, once.
    return {0, BuzzerTone::Default, 2, 1, 1};
}

int textCharsFor(int receiveSize)
{
    if (receiveSize <= 0)
        return 255;
    const int blocks = (receiveSize - SealedTextOverhead) / 16;
    return std::clamp(blocks * 16 - TextRecordHead - 1, 0, 255);
}

std::vector<TextCommand> displayRows(const QString& text, int rows, int columns, int maxChars)
{
    std::vector<TextCommand> out;
    if (maxChars <= 0)
        return out;
    for (int row = 0; row < rows; ++row) {
        for (TextCommand& piece : rowPieces(paddedRow(text, row, columns), row, maxChars))
            out.push_back(std::move(piece));
    }
    return out;
}

// Passes bus events to the user-interface thread while the transport lives.
struct OsdpTransport::Relay {
    std::mutex mutex;
    QObject* receiver = nullptr;
    OsdpTransport* transport = nullptr;

    void post(const BusEvent& e)
    {
        std::lock_guard lock(mutex);
        if (!receiver)
            return;
        OsdpTransport* t = transport;
        QMetaObject::invokeMethod(receiver, [t, e] { t->handle(e); }, Qt::QueuedConnection);
    }
    void cutOff()
    {
        std::lock_guard lock(mutex);
        receiver = nullptr;
    }
};

OsdpTransport::OsdpTransport(std::shared_ptr<OsdpLink> link, PortText port, ReaderConfig config, ReaderEvents& events,
                             std::function<void()> release, const SteadyClock& clock)
    : link_(std::move(link)), port_(std::move(port)), config_(std::move(config)), events_(events),
      release_(std::move(release)), receiver_(std::make_unique<QObject>()), relay_(std::make_shared<Relay>()),
      clock_(clock)
{
    relay_->receiver = receiver_.get();
    relay_->transport = this;
}

OsdpTransport::~OsdpTransport()
{
    close();
    relay_->cutOff();
}

Result<void> OsdpTransport::open()
{
    if (index_ < 0)
        index_ = link_->addReader(config_, [relay = relay_](const BusEvent& e) { relay->post(e); });
    const auto opened = link_->start();
    if (!opened)
        return failure(opened.error());
    if (!opened->warning.isEmpty())
        events_.reportLog(opened->warning);
    return {};
}

ReaderStatus OsdpTransport::setUp()
{
    if (index_ < 0)
        return ReaderStatus::NotReady;
    announcedUp_ = link_->waitOnline(index_, SetUpWait);
    return announcedUp_ ? ReaderStatus::Ok : ReaderStatus::NotReady;
}

ReaderStatus OsdpTransport::pulseRelay(std::uint8_t output, std::uint8_t tenths)
{
    if (index_ < 0 || !link_->submit(index_, relayPulse(output, tenths)))
        return ReaderStatus::Offline;
    showLed(LedColour::Green, tenths);
    return ReaderStatus::Ok;
}

bool OsdpTransport::signalRefusal()
{
    if (index_ < 0 || !link_->online(index_))
        return false;
    const Capabilities c = link_->capabilities(index_);
    bool shown = false;
    if (port_.led && c.led) {
        showLed(LedColour::Red, RefusalTenths);
        shown = true;
    }
    if (port_.buzzer && c.buzzer)
        shown = link_->submit(index_, refusalBeep()) || shown;
    return shown;
}

void OsdpTransport::showLed(LedColour colour, std::uint8_t tenths)
{
    if (!port_.led || index_ < 0 || !link_->capabilities(index_).led)
        return;
    if (link_->submit(index_, temporaryLed(colour, tenths))) {
        ledColour_ = colour;
        ledUntil_ = clock_.now() + milliseconds(100 * tenths);
    }
}

void OsdpTransport::show(const QString& text)
{
    lastText_ = text;
    textWritten_ = true;
    sendText(text);
}

void OsdpTransport::sendText(const QString& text)
{
    if (index_ < 0 || !link_->online(index_))
        return;
    const Capabilities c = link_->capabilities(index_);
    const int maxChars = textCharsFor(c.receiveSize);
    if (!c.text || maxChars <= 0) {
        if (!warnedNoText_) {
            events_.reportLog(c.text ? QStringLiteral("el búfer del lector (%1 bytes) no admite ningún texto; no se le envían "
                                                "textos").arg(c.receiveSize)
                               : QStringLiteral("el lector no tiene pantalla de texto; no se le envían textos"));
        }
        warnedNoText_ = true;
        return;
    }
    rowsShown_.resize(static_cast<std::size_t>(port_.rows));
    for (int row = 0; row < port_.rows; ++row) {
        const QString part = paddedRow(text, row, port_.columns);
        QString& shown = rowsShown_[static_cast<std::size_t>(row)];
        if (shown == part)
            continue; // a row the reader already shows costs nothing on a slow line
        for (TextCommand& piece : rowPieces(part, row, maxChars)) {
            if (!link_->submit(index_, std::move(piece))) {
                rowsShown_.clear();
                return;
            }
        }
        shown = part;
    }
}

void OsdpTransport::resendAfterRestart()
{
    rowsShown_.clear();
    if (textWritten_)
        sendText(lastText_);
    const auto left = std::chrono::duration_cast<milliseconds>(ledUntil_ - clock_.now());
    if (left.count() >= 100)
        showLed(ledColour_, static_cast<std::uint8_t>(std::min<std::int64_t>(left.count() / 100, 255)));
}

void OsdpTransport::close()
{
    if (index_ >= 0) {
        link_->removeReader(index_);
        index_ = -1;
    }
    if (release_) {
        release_();
        release_ = {};
    }
}

SecureChannelState OsdpTransport::secureChannel() const
{
    if (port_.channel == ChannelMode::Off)
        return SecureChannelState::Off;
    // A reader that asks for the channel is online only once it is up.
    return announcedUp_ ? SecureChannelState::Established : SecureChannelState::Waiting;
}

void OsdpTransport::handle(const BusEvent& e)
{
    if (const auto line = logLine(e.fact))
        events_.reportLog(*line);
    std::visit(Overloaded{
                   [&](const ReaderOnline&) { cameOnline(); },
                   // What the display and the light should show, again: it lost them.
                   [&](const ReaderRestarted&) { resendAfterRestart(); },
                   [&](const ReaderOffline&) { wentOffline(); },
                   [&](const LocalStatusChanged& s) { statusChanged(s.status); },
                   [&](const InstallKeyOnly&) { installKeyOnly(); },
                   [&](const CardTrackRead& read) {
                       if (fresh(e))
                           events_.reportTrack(read.text);
                   },
                   [&](const KeysPressed& keys) {
                       if (fresh(e))
                           events_.reportStatusMessage(keys.digits);
                   },
                   [&](const CardBitsRead& read) {
                       if (fresh(e))
                           bitsRead(read);
                   },
                   [](const auto&) {},
               },
               e.fact);
}

void OsdpTransport::cameOnline()
{
    if (!announcedUp_)
        events_.reportHotReset();
    announcedUp_ = true;
    if (condition_.installKeyOnly) {
        condition_.installKeyOnly = false;
        events_.reportCondition(condition_);
    }
    // What the display and the light should show, again: it may have missed it.
    resendAfterRestart();
}

void OsdpTransport::wentOffline()
{
    announcedUp_ = false;
    events_.reportDown();
}

void OsdpTransport::installKeyOnly()
{
    if (condition_.installKeyOnly)
        return;
    condition_.installKeyOnly = true;
    events_.reportCondition(condition_);
}

void OsdpTransport::statusChanged(const LocalStatus& status)
{
    const ReaderCondition before = condition_;
    condition_.known = true;
    condition_.tamper = status.tamper;
    condition_.powerOk = !status.powerLost;
    if (condition_.tamper != before.tamper && (before.known || condition_.tamper)) {
        events_.reportLog(condition_.tamper ? QStringLiteral("ALERTA: lector abierto o manipulado (tamper)")
                                            : QStringLiteral("tamper: el lector vuelve a estar cerrado"));
    }
    if (condition_.powerOk != before.powerOk && (before.known || !condition_.powerOk)) {
        events_.reportLog(condition_.powerOk ? QStringLiteral("alimentación del lector restablecida")
                                             : QStringLiteral("ALERTA: el lector informa de un fallo de alimentación"));
    }
    if (condition_ != before)
        events_.reportCondition(condition_);
}

// A read that waited too long for this thread is no passage any more.
bool OsdpTransport::fresh(const BusEvent& e)
{
    const auto waited = clock_.now() - e.at;
    if (waited <= StaleAfter)
        return true;
    events_.reportLog(QStringLiteral("lectura descartada: esperó %1 s a la estación")
                          .arg(std::chrono::duration_cast<std::chrono::seconds>(waited).count()));
    return false;
}

void OsdpTransport::bitsRead(const CardBitsRead& read)
{
    const auto card = readCard(port_.format, read.bits, read.data);
    if (card)
        events_.reportCard(*card);
    else
        events_.reportLog(card.error());
}

} // namespace parking::osdp
