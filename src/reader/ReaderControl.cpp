#include "ReaderControl.h"

namespace parking {

ReaderControl::ReaderControl(QString name, int station, ReaderHub* hub, QObject* parent)
    : QObject(parent), name_(std::move(name)), station_(station), hub_(hub)
{
    setObjectName(name_);
}

ReaderControl::~ReaderControl() = default;

std::uint8_t ReaderControl::OpenPortRem(const QString& port)
{
    trace(QStringLiteral("port %1 |%2|").arg(station_).arg(port));
    if (!transport_ && port.startsWith(QLatin1String("sim:")))
        transport_ = std::make_unique<SimulatedTransport>();
    if (!transport_ && hub_ && port.startsWith(QLatin1String("osdp:"))) {
        auto opened = hub_->openOsdp(port, name_, *this);
        if (auto* fault = std::get_if<QString>(&opened)) {
            log(QStringLiteral("puerto no válido |%1|: %2").arg(port, *fault));
            return BadPortText;
        }
        transport_ = std::get<std::unique_ptr<ReaderTransport>>(std::move(opened));
    }
    return transport_ ? transport_->open() : NoReader;
}

std::uint8_t ReaderControl::SetUpBiomax()
{
    trace(QStringLiteral("setup %1").arg(station_));
    return transport_ ? transport_->setUp() : NoReader;
}

std::uint8_t ReaderControl::CloseRelay(std::uint8_t first, std::uint8_t second)
{
    trace(QStringLiteral("relay %1 %2 %3").arg(station_).arg(first).arg(second));
    return transport_ ? transport_->closeRelay(first, second) : NoReader;
}

void ReaderControl::WriteDisplay(const QString& text)
{
    trace(QStringLiteral("display %1 |%2|").arg(station_).arg(text));
    if (transport_)
        transport_->writeDisplay(text);
}

void ReaderControl::signalRefusal()
{
    if (transport_ && transport_->signalRefusal())
        trace(QStringLiteral("refusal %1").arg(station_));
}

void ReaderControl::ClosePort()
{
    trace(QStringLiteral("closeport %1").arg(station_));
    if (transport_)
        transport_->close();
}

} // namespace parking
