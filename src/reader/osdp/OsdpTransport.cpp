#include "OsdpTransport.h"

#include <mutex>

namespace parking::osdp {

namespace {

constexpr std::uint8_t TemporaryOn = 5; // on for the timer, then the permanent state again
constexpr std::uint8_t SetTemporary = 2;
constexpr std::uint8_t ColourGreen = 2;
constexpr std::uint8_t PermanentTextNoWrap = 1;
constexpr std::uint64_t CardNumberLimit = 10'000'000'000'000ULL; // 13 digits

} // namespace

std::optional<QString> rawCardText(int bits, const Bytes& data)
{
    if (bits <= 0 || bits > 64 || data.size() < static_cast<std::size_t>((bits + 7) / 8))
        return std::nullopt;
    std::uint64_t value = 0;
    for (int i = 0; i < bits; ++i) {
        const std::uint8_t byte = data[static_cast<std::size_t>(i / 8)];
        value = (value << 1) | ((byte >> (7 - i % 8)) & 1);
    }
    if (value >= CardNumberLimit)
        return std::nullopt;
    return QStringLiteral("C%1").arg(value, 13, 10, QLatin1Char('0'));
}

Bytes relayPulse(std::uint8_t output, std::uint8_t tenths)
{
    return {output, TemporaryOn, tenths, 0};
}

Bytes greenLed(std::uint8_t tenths)
{
    // Reader 0, LED 0: green steadily for the timer, the permanent state untouched.
    return {0, 0, SetTemporary, 1, 0, ColourGreen, ColourGreen, tenths, 0, 0, 0, 0, 0, 0};
}

std::vector<Bytes> displayRows(const QString& text, int rows, int columns)
{
    std::vector<Bytes> out;
    for (int row = 0; row < rows && row * columns < text.size(); ++row) {
        const QByteArray part = text.mid(row * columns, columns).toLatin1();
        Bytes c{0, PermanentTextNoWrap, 0, static_cast<std::uint8_t>(row + 1), 1, static_cast<std::uint8_t>(part.size())};
        c.insert(c.end(), part.begin(), part.end());
        out.push_back(std::move(c));
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

OsdpTransport::OsdpTransport(std::shared_ptr<OsdpLink> link, PortText port, std::optional<Block> key,
                             ReaderEvents& events)
    : link_(std::move(link)), port_(std::move(port)), key_(key), events_(events),
      receiver_(std::make_unique<QObject>()), relay_(std::make_shared<Relay>())
{
    relay_->receiver = receiver_.get();
    relay_->transport = this;
}

OsdpTransport::~OsdpTransport()
{
    close();
    relay_->cutOff();
}

std::uint8_t OsdpTransport::open()
{
    if (index_ < 0) {
        index_ = link_->addReader({port_.address, port_.channel, key_},
                                  [relay = relay_](const BusEvent& e) { relay->post(e); });
    }
    return link_->start() ? 0 : 2;
}

std::uint8_t OsdpTransport::setUp()
{
    if (index_ < 0)
        return 3;
    announcedUp_ = link_->waitOnline(index_, SetUpWait);
    return announcedUp_ ? 0 : 3;
}

std::uint8_t OsdpTransport::closeRelay(std::uint8_t first, std::uint8_t second)
{
    if (index_ < 0 || !link_->submit(index_, command::Output, relayPulse(first, second)))
        return Offline;
    if (link_->capabilities(index_).led)
        link_->submit(index_, command::Led, greenLed(second));
    return 0;
}

void OsdpTransport::writeDisplay(QString& text)
{
    lastText_ = text;
    sendText(text);
}

void OsdpTransport::sendText(const QString& text)
{
    if (index_ < 0 || !link_->online(index_))
        return;
    if (!link_->capabilities(index_).text) {
        if (!warnedNoText_)
            events_.log(QStringLiteral("el lector no tiene pantalla de texto; no se le envían textos"));
        warnedNoText_ = true;
        return;
    }
    for (Bytes& row : displayRows(text, port_.rows, port_.columns))
        link_->submit(index_, command::Text, std::move(row));
}

void OsdpTransport::close()
{
    if (index_ >= 0) {
        link_->removeReader(index_);
        index_ = -1;
    }
}

QString OsdpTransport::secureChannel() const
{
    if (port_.channel == ChannelMode::Off)
        return QStringLiteral("off");
    // A reader that asks for the channel is online only once it is up.
    return announcedUp_ ? QStringLiteral("established") : QStringLiteral("waiting");
}

void OsdpTransport::handle(const BusEvent& e)
{
    const auto waited = std::chrono::steady_clock::now() - e.at;
    switch (e.kind) {
    case BusEvent::Kind::Online:
        if (!announcedUp_)
            events_.hotReset();
        announcedUp_ = true;
        // What the display should show, again: it may have missed it.
        sendText(lastText_);
        return;
    case BusEvent::Kind::Offline:
        announcedUp_ = false;
        events_.readerDown();
        return;
    case BusEvent::Kind::Log:
        events_.log(e.text);
        return;
    case BusEvent::Kind::CommandAnswered:
        events_.log(QStringLiteral("respuesta a CloseRelay: %1").arg(e.text));
        return;
    case BusEvent::Kind::RawCard:
    case BusEvent::Kind::FormattedCard:
    case BusEvent::Kind::Keypad:
        break;
    }
    if (waited > StaleAfter) {
        events_.log(QStringLiteral("lectura descartada: esperó %1 s a la estación")
                        .arg(std::chrono::duration_cast<std::chrono::seconds>(waited).count()));
        return;
    }
    if (e.kind == BusEvent::Kind::FormattedCard) {
        events_.trackRead(e.text);
    } else if (e.kind == BusEvent::Kind::Keypad) {
        events_.statusMessage(e.text);
    } else if (const auto card = rawCardText(e.bits, e.data)) {
        events_.cardNumberRead(*card);
    } else {
        events_.log(QStringLiteral("tarjeta no utilizable: %1 bits, datos %2")
                        .arg(e.bits)
                        .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(e.data.data()),
                                                            static_cast<qsizetype>(e.data.size()))
                                                     .toHex())));
    }
}

} // namespace parking::osdp
