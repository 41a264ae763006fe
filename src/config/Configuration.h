#pragma once
// Everything the program reads from its configuration file ("Rivalto.ini"),
// read once at start-up and handed to each part as what it needs. The keys
// keep the names existing files use; the file-reading rules are IniFile's.
#include "Result.h"

#include <QList>
#include <QString>

#include <chrono>
#include <cstdint>
#include <utility>

namespace parking {

// [Conexion]: where the management database is.
struct DatabaseSettings {
    QString dataSource;      // SID=, as the 100-character field it always was
    QString credentialsFile; // Credenciales=, as written (empty: the built-in account)
    QString configFolder;    // what a relative credentials file is relative to
    // Espera=, EsperaEscritura=: how long a passage waits for the database
    // to answer a read (the decision's facts, a card) and a write (the
    // passage's rows), in milliseconds; past it the passage goes on as in
    // an outage.
    std::chrono::milliseconds readWait = DefaultReadWait;
    std::chrono::milliseconds writeWait = DefaultWriteWait;
    static constexpr std::chrono::milliseconds DefaultReadWait{1000};
    static constexpr std::chrono::milliseconds DefaultWriteWait{2000};
    // The range a wait may be set in; a value outside it, or no whole
    // number, leaves the default.
    static constexpr std::chrono::milliseconds ShortestWait{100};
    static constexpr std::chrono::milliseconds LongestWait{30000};
};

// [SinConexion]: entrances decided from a local replica while the server
// is away or slow.
struct ReplicaSettings {
    bool decide = false; // Decidir=1
    // Refresco=: seconds between two refreshes from the server, 5 or more.
    std::chrono::seconds refresh = DefaultRefresh;
    // EdadMaxima=: hours after the last complete refresh past which the
    // replica no longer decides, 1 to 720.
    std::chrono::hours maxAge = DefaultMaxAge;
    QString file; // Fichero=, beside the journal unless given
    static constexpr std::chrono::seconds DefaultRefresh{300};
    static constexpr std::chrono::seconds ShortestRefresh{5};
    static constexpr std::chrono::hours DefaultMaxAge{24};
};

// [Estado]: the status page, as written; the status server checks them.
struct StatusSettings {
    QString port;        // Puerto=
    QString address;     // Direccion=
    QString key;         // Clave=
    QString operatorKey; // ClaveOperador=
    QString certificate; // Certificado=
    QString privateKey;  // ClavePrivada=
    // [Operadores]: one named operator a line, name=HASH (--hash-key), as
    // written and in the file's order.
    QList<std::pair<QString, QString>> operators;
};

struct Configuration {
    QString file;                   // the configuration file, absolute
    std::int16_t installation = 0;  // [Impresoras] Instalacion=: the installation this program serves
    DatabaseSettings database;
    // [Registro] Carpeta=, Diario=, [Lectores] Claves=: beside the
    // configuration file unless given, relative paths taken from there.
    QString logFolder;     // empty: no log file
    QString journalFile;   // writes waiting for the database
    QString readerKeyFile; // the readers' Secure Channel keys
    // [Registro] DiasClavesDiario=: days a passage's key stays in
    // DIARIO_APLICADO, 1 to 3650, else 90.
    int unitKeyDays = 90;
    ReplicaSettings replica;
    StatusSettings status;
};

// Why the file cannot be used (a whole-number key missing, empty or out of
// range, or no file at all), and what was read of it all the same, so the
// log still goes where the file says.
struct ConfigurationFault {
    QString reason;
    Configuration readAnyway;
};

// The configuration file "Rivalto.ini" in `programFolder`.
QString defaultConfigPath(const QString& programFolder);

// Reads the file at `path`.
Result<Configuration, ConfigurationFault> loadConfiguration(const QString& path);
// What was read, whether or not the file can be used.
const Configuration& readConfiguration(const Result<Configuration, ConfigurationFault>& loaded);

} // namespace parking
