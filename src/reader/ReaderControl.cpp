#include "ReaderControl.h"

namespace parking {

ReaderControl::ReaderControl(QString name, ReaderHub* hub, QObject* parent)
    : QObject(parent), name_(std::move(name)), hub_(hub)
{
    setObjectName(name_);
}

ReaderControl::~ReaderControl() = default;

Result<void, OpenFailure> ReaderControl::open(const QString& port)
{
    emit acted({ReaderAction::Kind::PortOpened, port, 0, 0});
    if (!transport_ && port.startsWith(QLatin1String("sim:")))
        transport_ = std::make_unique<SimulatedTransport>();
    if (!transport_ && hub_ && port.startsWith(QLatin1String("osdp:"))) {
        auto opened = hub_->openOsdp(port, name_, *this);
        if (!opened) {
            reportLog(QStringLiteral("puerto no válido |%1|: %2").arg(port, opened.error()));
            return failureOf(OpenFailure{ReaderStatus::BadPortText, opened.error()});
        }
        transport_ = std::move(*opened);
    }
    if (!transport_)
        return failureOf(OpenFailure{ReaderStatus::NoReader, {}});
    if (const auto opened = transport_->open(); !opened)
        return failureOf(OpenFailure{ReaderStatus::LineNotOpened, opened.error()});
    return {};
}

ReaderStatus ReaderControl::setUp()
{
    emit acted({ReaderAction::Kind::SetUp, {}, 0, 0});
    return transport_ ? transport_->setUp() : ReaderStatus::NoReader;
}

ReaderStatus ReaderControl::pulseRelay(std::uint8_t output, std::uint8_t tenths)
{
    emit acted({ReaderAction::Kind::RelayPulsed, {}, output, tenths});
    return transport_ ? transport_->pulseRelay(output, tenths) : ReaderStatus::NoReader;
}

void ReaderControl::show(const QString& text)
{
    emit acted({ReaderAction::Kind::Shown, text, 0, 0});
    if (transport_)
        transport_->show(text);
}

void ReaderControl::signalRefusal()
{
    if (transport_ && transport_->signalRefusal())
        emit acted({ReaderAction::Kind::RefusalShown, {}, 0, 0});
}

void ReaderControl::close()
{
    emit acted({ReaderAction::Kind::PortClosed, {}, 0, 0});
    if (transport_)
        transport_->close();
}

} // namespace parking
