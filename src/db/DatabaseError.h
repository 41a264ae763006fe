#pragma once
// A failed database call. Thrown by every connection and row-set operation
// that fails; the message never carries the connection string's password.
//
// A few faults the program tells apart by kind; their words in the event
// log are the ones the log has always had for them (a data-access
// library's), kept here, where the error becomes text, and nowhere else.
#include <QString>

#include <stdexcept>

namespace parking {

enum class DatabaseFault {
    Other,        // the driver's or the backend's own words
    NoCurrentRow, // a row was expected and there was none
    NullValue,    // a value was needed and the column was Null
    Closed,       // the connection is not open
    Unreachable,  // the server cannot be reached, or the connection to it was lost
};

QString faultText(DatabaseFault fault);

class DatabaseError : public std::runtime_error {
public:
    explicit DatabaseError(const QString& message) : DatabaseError(DatabaseFault::Other, message) {}
    explicit DatabaseError(DatabaseFault fault) : DatabaseError(fault, faultText(fault)) {}
    DatabaseError(DatabaseFault fault, const QString& message)
        : std::runtime_error(message.toStdString()), fault_(fault), message_(message)
    {
    }
    const QString& message() const { return message_; }
    DatabaseFault fault() const { return fault_; }

    // The server away, not a fault of the statement.
    bool unreachable() const { return fault_ == DatabaseFault::Unreachable || fault_ == DatabaseFault::Closed; }

private:
    DatabaseFault fault_;
    QString message_;
};

inline QString faultText(DatabaseFault fault)
{
    switch (fault) {
    case DatabaseFault::NoCurrentRow:
        return QStringLiteral("Either BOF or EOF is True, or the current record has been deleted");
    case DatabaseFault::NullValue:
        return QStringLiteral("Invalid use of Null");
    case DatabaseFault::Closed:
        return QStringLiteral("Operation is not allowed when the object is closed");
    case DatabaseFault::Unreachable:
    case DatabaseFault::Other:
        break;
    }
    return QStringLiteral("database error");
}

} // namespace parking
