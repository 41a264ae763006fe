#pragma once
// Files that hold secrets (the readers' keys, the database account) are
// private to the program's account: one its group or others may read is
// not used, as ssh treats a private key.
#include <QString>

#include <optional>

namespace parking {

// Why the existing file at `path` may not be used, naming it as `what`
// ("el fichero de claves"); nullopt when only its owner may read it.
std::optional<QString> readableByOthers(const QString& path, const QString& what);

} // namespace parking
