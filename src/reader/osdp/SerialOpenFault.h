#pragma once
// Why a serial line could not be opened, in words an installer can act on.
// The serial port's own error puts a missing device, the account's
// permissions and the service's device sandbox under two headings; asking
// the system about the device file itself tells them apart.
#include <QSerialPort>
#include <QString>

namespace parking {

enum class DeviceAccess {
    Missing, // no such file: unplugged, driver not loaded, wrong name
    Denied,  // the file's owner, group and mode keep this account out
    Refused, // the file lets this account in; the device filter does not
    Allowed, // both let this account in
};

// What the system allows this process at `device` (read and write).
DeviceAccess deviceAccess(const QString& device);

// The text for the event log; `text` is the serial port's own error text.
QString describeOpenFault(QSerialPort::SerialPortError error, const QString& text, DeviceAccess access);

} // namespace parking
