#pragma once
// Files that hold secrets (the readers' keys, the database account) are
// private to the program's account: one its group or others may read is
// not used, as ssh treats a private key.
#include "Result.h"

#include <QString>

namespace parking {

// Whether the file at `path` may be used: it fails, saying why and naming
// it as `what` ("el fichero de claves"), when its group or others may read
// it. A file that is not there is not refused here.
Result<void> checkPrivate(const QString& path, const QString& what);

} // namespace parking
