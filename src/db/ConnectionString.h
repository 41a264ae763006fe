#pragma once
// The connection string: a fixed prefix with the built-in account, then the
// data source from the configuration, held as a fixed text of 200 characters.
#include "FixedText.h"

#include <QString>

namespace parking {

inline constexpr qsizetype ConnectionStringWidth = 200;

// "Provider=...;Data Source=" + sid trimmed, cut or filled to 200 characters.
QString buildConnectionString(const QString& sid);

// The value of `key` (without regard to case) in "key=value;key=value";
// empty when absent. Values are trimmed.
QString connectionAttribute(const QString& connectionString, const QString& key);

// The data source of a connection string, for messages: never the password.
QString describeDataSource(const QString& connectionString);

} // namespace parking
