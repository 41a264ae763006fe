#pragma once
// Where reader controls get their OSDP transports: one link per device,
// shared by the readers that name it (two stations on one RS-485 bus are
// polled in turn on one line), and the key file that holds the readers'
// Secure Channel keys. Owned by the station controller; it must outlive
// the reader controls.
#include "ReaderTransport.h"

#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <variant>

namespace parking {

namespace osdp {
class OsdpLink;
}

class ReaderHub {
public:
    explicit ReaderHub(QString keyFile) : keyFile_(std::move(keyFile)) {}
    ~ReaderHub();

    // The transport of an "osdp:" port text, or the fault in the text.
    // Trouble with the key file is logged through `events`.
    std::variant<std::unique_ptr<ReaderTransport>, QString> openOsdp(const QString& portText, ReaderEvents& events);

    const QString& keyFile() const { return keyFile_; }

private:
    QString keyFile_;
    std::mutex keyMutex_;
    std::map<QString, std::weak_ptr<osdp::OsdpLink>> links_;
};

} // namespace parking
