#pragma once
// Readable QString values in test failures. Every test file includes this
// before anything prints a QString, so that all of them print it the same way.
#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
