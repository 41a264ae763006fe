#pragma once
// The program's global settings, read once at start-up from the
// configuration file and never written back. One Settings object is owned by
// the application and handed to whoever needs it.
#include "FixedText.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace parking {

struct Settings {
    // [Conexion]
    QString BaseDatos;
    FixedText<30> ProveedorBD;
    FixedText<100> SidBD; // data source of the database connection
    FixedText<15> ServidorBD;
    FixedText<75> NombreBD;
    QString Credenciales; // the database account's file, if not the built-in one
    // [Form]: window position, kept but not used
    std::int16_t FormLeft = 0;
    std::int16_t FormTop = 0;
    std::int16_t FormWidth = 0;
    std::int16_t FormHeight = 0;
    // [Listados], [FicherosASCII]
    FixedText<75> RutaListados;
    FixedText<75> RutaASCII;
    // [Impresoras]
    FixedText<50> ImpresoraTickets;
    FixedText<10> PuertoCajon;
    std::int16_t Instalacion = 0; // code of the installation this program serves
    // [Fotos]
    FixedText<75> RutaFotos;
    FixedText<75> RutaFotosDefecto;
    // Not from the file. The configuration path is kept whole, however deep
    // the folder it lies in.
    QString FicheroIni;
    QString RutaLogo;
    FixedText<35> NombreEquipo;
    FixedText<15> UsuarioWindows;
    std::int32_t IndiceImpresoraTickets = 0; // the ticket-printer look-up is not done here
};

struct SettingsError {
    QString message;
};

// The configuration file "Rivalto.ini" in `programFolder`.
QString defaultConfigPath(const QString& programFolder);

// Reads every setting from the file at `path` into `settings`. Fails, naming
// the key and the file, when a whole-number key is missing, empty, not a
// number or out of the 16-bit range; a missing file therefore fails on its
// first whole-number key.
std::optional<SettingsError> LoadSettings(Settings& settings, const QString& path,
                                          const QString& programFolder);

} // namespace parking
