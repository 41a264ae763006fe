#include "osdp/SerialOpenFault.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <pty.h>
#include <unistd.h>

namespace parking {
namespace {

struct FaultCase {
    QSerialPort::SerialPortError error;
    const char* text;
    DeviceAccess access;
    const char* says;
};

// The installer must learn from the line which of the three to mend: plug
// the adapter in, add the account to dialout, or widen the unit's sandbox.
TEST(SerialOpenFault, NamesTheCauseAnInstallerCanMend)
{
    const FaultCase cases[] = {
        {QSerialPort::DeviceNotFoundError, "No such file or directory", DeviceAccess::Missing, "no existe el dispositivo"},
        // The device vanished between the open and the look at the file.
        {QSerialPort::PermissionError, "Permission denied", DeviceAccess::Missing, "no existe el dispositivo"},
        {QSerialPort::PermissionError, "Permission denied", DeviceAccess::Denied, "grupo dialout"},
        {QSerialPort::PermissionError, "Operation not permitted", DeviceAccess::Refused, "DeviceAllow="},
        // Held by another program with exclusive use (EBUSY is a permission error too).
        {QSerialPort::PermissionError, "Device or resource busy", DeviceAccess::Allowed, "otro programa"},
        {QSerialPort::PermissionError, "Permission error while locking the device", DeviceAccess::Allowed,
         "no se puede bloquear"},
        {QSerialPort::OpenError, "Device or resource busy", DeviceAccess::Allowed, "en uso por otro programa"},
        {QSerialPort::UnknownError, "Input/output error", DeviceAccess::Allowed, "Input/output error"},
    };
    for (const auto& c : cases) {
        const QString said = describeOpenFault(c.error, QString::fromUtf8(c.text), c.access);
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.says))) << c.text << " -> " << said.toStdString();
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.text))) << "the system's own text is kept: " << said.toStdString();
    }
}

TEST(SerialOpenFault, LooksAtTheDeviceFileItself)
{
    QTemporaryDir dir;
    EXPECT_EQ(deviceAccess(dir.filePath(QStringLiteral("ttyUSB7"))), DeviceAccess::Missing);

    int controller = -1;
    int line = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&controller, &line, name, nullptr, nullptr), 0);
    EXPECT_EQ(deviceAccess(QString::fromLocal8Bit(name)), DeviceAccess::Allowed);
    ::close(line);
    ::close(controller);
}

} // namespace
} // namespace parking
