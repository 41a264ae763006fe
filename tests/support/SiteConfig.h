#pragma once
// The configuration file of a test or benchmark site: the data source, the
// window keys every existing file carries, the installation, and whatever
// sections a case adds.
#include <QDir>
#include <QFile>
#include <QString>

namespace parking::test {

inline QString siteConfigText(const QString& sid, int installation, const QString& more = {})
{
    return QStringLiteral("[Conexion]\nSID=%1\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=%2\n")
               .arg(sid)
               .arg(installation) +
           more;
}

// Writes "Rivalto.ini" (or `name`) in `folder`; its path.
inline QString writeSiteConfig(const QString& folder, const QString& sid, int installation, const QString& more = {},
                               const QString& name = QStringLiteral("Rivalto.ini"))
{
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(siteConfigText(sid, installation, more).toUtf8());
    return path;
}

} // namespace parking::test
