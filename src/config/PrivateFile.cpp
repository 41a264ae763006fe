#include "PrivateFile.h"

#include <QFile>

#include <sys/stat.h>

namespace parking {

Result<void> checkPrivate(const QString& path, const QString& what)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !(st.st_mode & (S_IRWXG | S_IRWXO)))
        return {};
    return failure(QStringLiteral("%1 %2 lo pueden leer otros (permisos %3); no se usa: déjelo en 0600")
                       .arg(what, path)
                       .arg(st.st_mode & 0777, 3, 8, QLatin1Char('0')));
}

} // namespace parking
