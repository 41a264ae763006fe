#include "ReaderHub.h"

#include "osdp/OsdpTransport.h"
#include "osdp/ReaderKeyFile.h"

namespace parking {

using namespace osdp;

ReaderHub::~ReaderHub() = default;

std::shared_ptr<OsdpLink> ReaderHub::link(const QString& device) const
{
    const auto it = links_.find(device);
    return it == links_.end() ? nullptr : it->second.lock();
}

Result<std::unique_ptr<ReaderTransport>> ReaderHub::openOsdp(const QString& portText, const QString& owner,
                                                             ReaderEvents& events)
{
    auto parsed = parsePortText(portText);
    if (!parsed)
        return failure(parsed.error());
    PortText port = std::move(*parsed);
    const auto claim = std::make_pair(port.device, int(port.address));
    if (const auto taken = owners_.find(claim); taken != owners_.end()) {
        return failure(QStringLiteral("la dirección %1 de %2 ya es la del lector de %3: dos lectores de una línea no "
                                      "pueden tener la misma dirección")
                           .arg(port.address)
                           .arg(port.device, taken->second));
    }

    std::optional<Block> key;
    if (port.channel != ChannelMode::Off) {
        std::lock_guard lock(keyMutex_);
        const auto keys = ReaderKeyFile::load(keyFile_);
        if (!keys) {
            // Readers that need a key stay offline rather than use one from
            // a file others can read or change.
            events.reportLog(keys.error());
            port.channel = ChannelMode::On;
        } else {
            key = ReaderKeyFile::find(*keys, port.device, port.address);
        }
    }

    std::shared_ptr<OsdpLink> link = links_[port.device].lock();
    if (link && !port.tcp() && link->line().baud != port.baud) {
        return failure(QStringLiteral("%1 ya está abierto a %2 baudios por otro lector; baud=%3 no se puede aplicar (una "
                                      "línea tiene una sola velocidad)")
                           .arg(port.device)
                           .arg(link->line().baud)
                           .arg(port.baud));
    }
    if (!link) {
        const QString device = port.device;
        link = std::make_shared<OsdpLink>(port, [this, device](std::uint8_t address, const Block& k) {
            std::lock_guard lock(keyMutex_);
            return ReaderKeyFile::store(keyFile_, device, address, k).has_value();
        });
        if (!capture_.isEmpty() && !link->captureTo(capture_, captureStarted_))
            events.reportLog(QStringLiteral("no se puede escribir la captura en %1").arg(capture_));
        captureStarted_ = captureStarted_ || !capture_.isEmpty();
        links_[port.device] = link;
    }
    owners_[claim] = owner;
    const ReaderConfig config{port.address, port.channel, key, rekey_};
    return std::unique_ptr<ReaderTransport>(
        std::make_unique<OsdpTransport>(link, port, config, events, [this, claim] { owners_.erase(claim); }));
}

} // namespace parking
