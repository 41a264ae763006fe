#pragma once
// Where reader controls get their OSDP transports: one link per device,
// shared by the readers that name it (two stations on one RS-485 bus are
// polled in turn on one line), and the key file that holds the readers'
// Secure Channel keys. Two readers with one address on one device, or two
// speeds for one device, are refused: the second would never work, or
// would silently take the first one's settings. Owned by the station
// controller; it must outlive the reader controls.
#include "ReaderTransport.h"
#include "Result.h"

#include <QString>

#include <map>
#include <memory>
#include <mutex>

namespace parking {

namespace osdp {
class OsdpLink;
}

class ReaderHub {
public:
    explicit ReaderHub(QString keyFile) : keyFile_(std::move(keyFile)) {}
    ~ReaderHub();

    // The transport of an "osdp:" port text for the reader control
    // `owner`, or the fault in the text. Trouble with the key file is
    // logged through `events`.
    Result<std::unique_ptr<ReaderTransport>> openOsdp(const QString& portText, const QString& owner, ReaderEvents& events);

    QString keyFile() const
    {
        std::lock_guard lock(keyMutex_);
        return keyFile_;
    }
    // The key file of the readers opened from now on (a reload); the links
    // open already store new keys there too.
    void setKeyFile(QString file)
    {
        std::lock_guard lock(keyMutex_);
        keyFile_ = std::move(file);
    }
    // The readers opened from now on are given a new key once (the
    // installer's --rekey).
    void setRekey(bool rekey) { rekey_ = rekey; }
    // Where the next link opened writes its packets (osdpcap); empty: nowhere.
    void setCapture(const QString& path) { capture_ = path; }
    // The link of a device, if one is open.
    std::shared_ptr<osdp::OsdpLink> link(const QString& device) const;

private:
    QString keyFile_;
    bool rekey_ = false;
    QString capture_;
    bool captureStarted_ = false;
    mutable std::mutex keyMutex_;
    std::map<QString, std::weak_ptr<osdp::OsdpLink>> links_;
    // Who holds each address of each device.
    std::map<std::pair<QString, int>, QString> owners_;
};

} // namespace parking
