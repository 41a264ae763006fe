#pragma once
// A failed database call. Thrown by every connection and row-set operation
// that fails; the message never carries the connection string's password.
#include <QString>

#include <stdexcept>

namespace parking {

class DatabaseError : public std::runtime_error {
public:
    explicit DatabaseError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

} // namespace parking
