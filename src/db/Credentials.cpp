#include "Credentials.h"

#include "PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>


namespace parking {

Result<Credentials> loadCredentials(const QString& path)
{
    if (const auto allowed = checkPrivate(path, QStringLiteral("el fichero de credenciales")); !allowed)
        return failure(allowed.error());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("no se puede leer el fichero de credenciales %1").arg(path));
    Credentials c;
    const QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString key = line.left(eq).trimmed().toLower();
        // The value as written: a password may begin or end with blanks.
        const QString value = lines[i].mid(lines[i].indexOf(QLatin1Char('=')) + 1).remove(QLatin1Char('\r'));
        if (eq > 0 && key == QLatin1String("usuario"))
            c.user = value.trimmed();
        else if (eq > 0 && key == QLatin1String("clave"))
            c.password = value;
        else
            return failure(QStringLiteral("fichero de credenciales %1, línea %2: se espera usuario=... o clave=...").arg(path).arg(i + 1));
    }
    if (c.user.isEmpty())
        return failure(QStringLiteral("fichero de credenciales %1: falta usuario=").arg(path));
    return c;
}

QString credentialsPath(const QString& configured, const QString& configFolder)
{
    if (!configured.isEmpty())
        return QDir(configFolder).absoluteFilePath(configured);
    const QString systemd = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (!systemd.isEmpty()) {
        const QString path = QDir(systemd).filePath(QStringLiteral("parking-db"));
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

} // namespace parking
