#include "SerialOpenFault.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace parking {

DeviceAccess deviceAccess(const QString& device)
{
    const QByteArray path = QFile::encodeName(device);
    struct stat status {};
    if (::stat(path.constData(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? DeviceAccess::Missing : DeviceAccess::Denied;
    if (::access(path.constData(), R_OK | W_OK) == 0)
        return DeviceAccess::Allowed;
    // The file's permissions answer EACCES; a device the service's device
    // filter (DevicePolicy=, a cgroup's) does not list answers EPERM.
    return errno == EPERM ? DeviceAccess::Refused : DeviceAccess::Denied;
}

QString describeOpenFault(QSerialPort::SerialPortError error, const QString& text, DeviceAccess access)
{
    if (error == QSerialPort::DeviceNotFoundError || access == DeviceAccess::Missing)
        return QStringLiteral("no existe el dispositivo (¿adaptador desenchufado, su controlador sin cargar o nombre "
                              "equivocado?): %1").arg(text);
    if (error == QSerialPort::OpenError)
        return QStringLiteral("el dispositivo está en uso por otro programa: %1").arg(text);
    if (error != QSerialPort::PermissionError)
        return text;
    // The serial port reports a lock file it cannot take as a permission
    // error too: another program holds the line, or no folder takes locks.
    if (text.contains(QLatin1String("lock"), Qt::CaseInsensitive))
        return QStringLiteral("no se puede bloquear el dispositivo (¿lo usa otro programa?): %1").arg(text);
    switch (access) {
    case DeviceAccess::Denied:
        return QStringLiteral("permiso denegado por el dispositivo (¿está el usuario en el grupo dialout?): %1").arg(text);
    case DeviceAccess::Refused:
        return QStringLiteral("el aislamiento del servicio no permite el dispositivo (DeviceAllow= de la unidad; sus "
                              "permisos sí lo dejan abrir): %1").arg(text);
    default:
        return QStringLiteral("el dispositivo está ocupado o no se deja abrir (¿lo usa otro programa?): %1").arg(text);
    }
}

} // namespace parking
