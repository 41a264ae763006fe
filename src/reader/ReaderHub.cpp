#include "ReaderHub.h"

#include "osdp/OsdpTransport.h"
#include "osdp/ReaderKeyFile.h"

namespace parking {

using namespace osdp;

ReaderHub::~ReaderHub() = default;

std::variant<std::unique_ptr<ReaderTransport>, QString> ReaderHub::openOsdp(const QString& portText,
                                                                            ReaderEvents& events)
{
    auto parsed = parsePortText(portText);
    if (auto* fault = std::get_if<QString>(&parsed))
        return *fault;
    PortText port = std::get<PortText>(std::move(parsed));

    std::optional<Block> key;
    if (port.channel != ChannelMode::Off) {
        std::lock_guard lock(keyMutex_);
        auto keys = ReaderKeyFile::load(keyFile_);
        if (auto* fault = std::get_if<QString>(&keys)) {
            // Readers that need a key stay offline rather than use one from
            // a file others can read or change.
            events.log(*fault);
            port.channel = ChannelMode::On;
        } else {
            key = ReaderKeyFile::find(std::get<std::vector<StoredKey>>(keys), port.device, port.address);
        }
    }

    std::shared_ptr<OsdpLink> link = links_[port.device].lock();
    if (!link) {
        const QString device = port.device;
        link = std::make_shared<OsdpLink>(port, [this, device](std::uint8_t address, const Block& k) {
            std::lock_guard lock(keyMutex_);
            return !ReaderKeyFile::store(keyFile_, device, address, k).has_value();
        });
        links_[port.device] = link;
    }
    return std::unique_ptr<ReaderTransport>(std::make_unique<OsdpTransport>(link, port, key, events));
}

} // namespace parking
