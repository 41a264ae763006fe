#include "OperatorDirectory.h"

#include <QMessageAuthenticationCode>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>

namespace parking {

namespace {

QString fold(const QString& name)
{
    return name.toCaseFolded();
}

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.constData(), b.constData(), a.size()) == 0;
}

// A name HTTP Basic can carry and a log line can show as it is.
bool usableName(const QString& name)
{
    return !name.isEmpty() && name.size() <= OperatorDirectory::MaxNameLength &&
           std::none_of(name.begin(), name.end(), [](QChar c) { return c == QLatin1Char(':') || c.category() == QChar::Other_Control; });
}

} // namespace

OperatorDirectory::OperatorDirectory() : secret_(32, '\0')
{
    if (RAND_bytes(reinterpret_cast<unsigned char*>(secret_.data()), static_cast<int>(secret_.size())) != 1)
        secret_.clear(); // nothing is remembered: every check hashes
}

Result<OperatorDirectory> OperatorDirectory::fromLines(const QList<std::pair<QString, QString>>& lines)
{
    OperatorDirectory directory;
    for (const auto& [name, hashText] : lines) {
        if (!usableName(name))
            return failure(QStringLiteral("[Operadores] el nombre |%1| no vale: de 1 a %2 caracteres, sin \":\"")
                               .arg(name)
                               .arg(MaxNameLength));
        auto hash = KeyHash::parse(hashText);
        if (!hash)
            return failure(QStringLiteral("[Operadores] %1: %2").arg(name, hash.error()));
        directory.operators_.push_back({name, std::move(*hash)});
    }
    return directory;
}

QByteArray OperatorDirectory::remembered(const QByteArray& key) const
{
    return QMessageAuthenticationCode::hash(key, secret_, QCryptographicHash::Sha256);
}

std::optional<QString> OperatorDirectory::check(const QString& name, const QByteArray& key)
{
    if (operators_.empty())
        return std::nullopt;
    const QString folded = fold(name);
    const auto found = std::find_if(operators_.begin(), operators_.end(),
                                    [&](const Operator& o) { return fold(o.name) == folded; });
    if (found == operators_.end()) {
        ++hashed_;
        operators_.front().hash.spendAsMatching(key);
        return std::nullopt;
    }
    const QByteArray mac = secret_.isEmpty() ? QByteArray() : remembered(key);
    if (!mac.isEmpty() && sameBytes(verified_.value(folded), mac))
        return found->name;
    ++hashed_;
    if (!found->hash.matches(key))
        return std::nullopt;
    if (!mac.isEmpty())
        verified_.insert(folded, mac);
    return found->name;
}

} // namespace parking
