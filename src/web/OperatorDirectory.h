#pragma once
// The named operators of [Operadores] (name=HASH, one a line) and the
// check of a name and key given with HTTP Basic. Names are compared
// without regard to case, as the file's keys are; the audit uses the name
// as written. A name nobody has costs the same hashing as one that exists
// with a wrong key, so the time of an answer does not tell which names
// exist. A key once checked is remembered (as an HMAC under a secret of
// this process) so the page's polling does not hash it every second.
#include "KeyHash.h"
#include "Result.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace parking {

class OperatorDirectory {
public:
    static constexpr qsizetype MaxNameLength = 64;

    // The operators of the section's lines, or what is wrong with one.
    static Result<OperatorDirectory> fromLines(const QList<std::pair<QString, QString>>& lines);
    OperatorDirectory();

    bool empty() const { return operators_.empty(); }
    std::size_t size() const { return operators_.size(); }

    // The operator's name as written when `name` and `key` are one's;
    // nullopt otherwise.
    std::optional<QString> check(const QString& name, const QByteArray& key);
    // How many keys have been hashed: one per check, whether or not the
    // name exists, but for a key remembered.
    std::size_t hashed() const { return hashed_; }

private:
    struct Operator {
        QString name;
        KeyHash hash;
    };
    QByteArray remembered(const QByteArray& key) const;

    std::vector<Operator> operators_;
    QByteArray secret_;                    // this process's, for the remembered keys
    QHash<QString, QByteArray> verified_;  // folded name -> the key last found right, as an HMAC
    std::size_t hashed_ = 0;
};

} // namespace parking
