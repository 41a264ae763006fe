#include "Settings.h"

#include "IniFile.h"
#include "WholeNumber.h"

#include <QDir>
#include <QSysInfo>

namespace parking {

namespace {

QString loggedOnUser()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    return user;
}

struct WholeKey {
    const char* section;
    const char* key;
    std::int16_t Settings::*field;
};

} // namespace

QString defaultConfigPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("Rivalto.ini"));
}

std::optional<SettingsError> LoadSettings(Settings& s, const QString& path,
                                          const QString& programFolder)
{
    s.FicheroIni = path;
    s.RutaLogo = QDir(programFolder).filePath(QStringLiteral("Rpts/kelmarRast.bmp"));
    const IniFile ini = IniFile::load(path);
    auto text = [&](const char* section, const char* key) {
        return ini.value(QLatin1String(section), QLatin1String(key));
    };
    auto whole = [&](const WholeKey& k) -> std::optional<SettingsError> {
        const QString raw = text(k.section, k.key);
        const auto number = toWhole16(raw);
        if (!number) {
            const QString why = !ini.exists()  ? QStringLiteral("no se puede leer el fichero")
                                : raw.isEmpty() ? QStringLiteral("falta el valor")
                                                : QStringLiteral("\"%1\" no es un número entero entre -32768 y 32767").arg(raw);
            return SettingsError{QStringLiteral("Configuración no válida: %1 en [%2] %3 del fichero %4")
                                     .arg(why, QLatin1String(k.section), QLatin1String(k.key), path)};
        }
        s.*(k.field) = *number;
        return std::nullopt;
    };

    s.BaseDatos = text("Conexion", "BASEDATOS");
    s.ProveedorBD = text("Conexion", "PRVBD");
    s.SidBD = text("Conexion", "SID");
    s.ServidorBD = text("Conexion", "SVR");
    s.NombreBD = text("Conexion", "BD");
    s.Credenciales = text("Conexion", "Credenciales");
    s.NombreEquipo = QSysInfo::machineHostName();
    s.UsuarioWindows = loggedOnUser();
    for (const WholeKey& k : {WholeKey{"Form", "Left", &Settings::FormLeft},
                              WholeKey{"Form", "Top", &Settings::FormTop},
                              WholeKey{"Form", "Width", &Settings::FormWidth},
                              WholeKey{"Form", "Height", &Settings::FormHeight}}) {
        if (auto error = whole(k))
            return error;
    }
    s.RutaListados = text("Listados", "RptPath");
    s.RutaASCII = text("FicherosASCII", "PathASCII");
    s.ImpresoraTickets = text("Impresoras", "ImpresoraTickets");
    s.PuertoCajon = text("Impresoras", "PuertoCajon");
    if (auto error = whole({"Impresoras", "Instalacion", &Settings::Instalacion}))
        return error;
    s.RutaFotos = text("Fotos", "FotoPath");
    s.RutaFotosDefecto = text("Fotos", "DefPath");
    return std::nullopt;
}

} // namespace parking
