#pragma once
// The database account of an installation that does not use the built-in
// one. It comes from a credentials file (mode 0600, owned by the program's
// account) named in the configuration, [Conexion] Credenciales=, or handed
// over by systemd as the credential "parking-db" (LoadCredential=). Without
// either, an ODBC data source's own user and password are used when it has
// them, else the built-in account.
//
// The password never reaches a log line, a message or the trace: nothing
// here puts it in any text but the driver's connection string.
#include "Result.h"

#include <QString>

namespace parking {

struct Credentials {
    QString user;
    QString password;
};

// The file: "usuario=NAME" and "clave=PASSWORD" lines ("#" starts a
// comment line). The fault names the file and what is wrong, never the
// password: unsafe permissions (group or others may read it), unreadable,
// or a line that is neither.
Result<Credentials> loadCredentials(const QString& path);

// Where the credentials file is: `configured` (relative to `configFolder`),
// else systemd's credential "parking-db" when the service was given one;
// empty: none.
QString credentialsPath(const QString& configured, const QString& configFolder);

} // namespace parking
