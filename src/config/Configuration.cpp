#include "Configuration.h"

#include "FixedText.h"
#include "IniFile.h"
#include "WholeNumber.h"

#include <QDir>
#include <QFileInfo>


namespace parking {

namespace {

// A key that must hold a whole number of 16 bits, or the file is refused.
// The window-position keys are checked though nothing uses them: existing
// files were written for a program that refused them too.
struct WholeKey {
    const char* section;
    const char* key;
};

constexpr WholeKey CheckedKeys[] = {{"Form", "Left"}, {"Form", "Top"}, {"Form", "Width"}, {"Form", "Height"},
                                    {"Impresoras", "Instalacion"}};

// The whole number, or why not.
Result<std::int16_t> wholeValue(const IniFile& ini, const QString& path, const WholeKey& k)
{
    const QString raw = ini.value(QLatin1String(k.section), QLatin1String(k.key));
    if (const auto number = toWhole16(raw))
        return *number;
    const QString why = !ini.exists()  ? QStringLiteral("no se puede leer el fichero")
                        : raw.isEmpty() ? QStringLiteral("falta el valor")
                                        : QStringLiteral("\"%1\" no es un número entero entre -32768 y 32767").arg(raw);
    return failure(QStringLiteral("Configuración no válida: %1 en [%2] %3 del fichero %4")
                       .arg(why, QLatin1String(k.section), QLatin1String(k.key), path));
}

// Milliseconds of a wait key: a whole number in range, else the default.
std::chrono::milliseconds waitValue(const QString& raw, std::chrono::milliseconds otherwise)
{
    bool ok = false;
    const qlonglong ms = raw.toLongLong(&ok);
    if (!ok || ms < DatabaseSettings::ShortestWait.count() || ms > DatabaseSettings::LongestWait.count())
        return otherwise;
    return std::chrono::milliseconds(ms);
}

} // namespace

QString defaultConfigPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("Rivalto.ini"));
}

Result<Configuration, ConfigurationFault> loadConfiguration(const QString& path)
{
    const IniFile ini = IniFile::load(path);
    auto text = [&](const char* section, const char* key) {
        return ini.value(QLatin1String(section), QLatin1String(key));
    };
    Configuration c;
    c.file = QFileInfo(path).absoluteFilePath();
    const QDir folder = QFileInfo(c.file).absoluteDir();
    QString fault;
    for (const WholeKey& k : CheckedKeys) {
        const auto value = wholeValue(ini, path, k);
        if (!value) {
            fault = value.error();
            break;
        }
        if (QLatin1String(k.key) == QLatin1String("Instalacion"))
            c.installation = *value;
    }
    c.database.dataSource = fixedText(text("Conexion", "SID"), 100);
    c.database.credentialsFile = text("Conexion", "Credenciales");
    c.database.configFolder = folder.absolutePath();
    c.database.readWait = waitValue(text("Conexion", "Espera"), DatabaseSettings::DefaultReadWait);
    c.database.writeWait = waitValue(text("Conexion", "EsperaEscritura"), DatabaseSettings::DefaultWriteWait);
    auto beside = [&](const QString& given, const QString& otherwise) {
        return folder.absoluteFilePath(given.isEmpty() ? otherwise : given);
    };
    c.logFolder = beside(text("Registro", "Carpeta"), QStringLiteral("log"));
    c.journalFile = beside(text("Registro", "Diario"), QStringLiteral("parking.journal"));
    c.readerKeyFile = beside(text("Lectores", "Claves"), QStringLiteral("claves-lectores"));
    const auto days = toWhole16(text("Registro", "DiasClavesDiario"));
    c.unitKeyDays = days && *days >= 1 && *days <= 3650 ? *days : 90;
    c.replica.decide = text("SinConexion", "Decidir").trimmed() == QLatin1String("1");
    bool ok = false;
    const qlonglong refresh = text("SinConexion", "Refresco").trimmed().toLongLong(&ok);
    if (ok && refresh >= ReplicaSettings::ShortestRefresh.count() && refresh <= 86400)
        c.replica.refresh = std::chrono::seconds(refresh);
    const qlonglong hours = text("SinConexion", "EdadMaxima").trimmed().toLongLong(&ok);
    if (ok && hours >= 1 && hours <= 720)
        c.replica.maxAge = std::chrono::hours(hours);
    c.replica.file = QFileInfo(c.journalFile)
                         .absoluteDir()
                         .absoluteFilePath(text("SinConexion", "Fichero").isEmpty() ? QStringLiteral("parking-replica.db")
                                                                                      : text("SinConexion", "Fichero"));
    c.status = {text("Estado", "Puerto"),        text("Estado", "Direccion"),   text("Estado", "Clave"),
                text("Estado", "ClaveOperador"), text("Estado", "Certificado"), text("Estado", "ClavePrivada"),
                ini.entries(QStringLiteral("Operadores"))};
    if (!fault.isEmpty())
        return failureOf(ConfigurationFault{fault, c});
    return c;
}

const Configuration& readConfiguration(const Result<Configuration, ConfigurationFault>& loaded)
{
    return loaded ? *loaded : loaded.error().readAnyway;
}

} // namespace parking
