#include "KeyHash.h"

#include <QRegularExpression>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace parking {

namespace {

constexpr auto Base64 = QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals;

quint64 memoryFor(int log2Rounds, int blockSize, int parallel)
{
    // What scrypt holds: 128 * r * N bytes, plus 128 * r * p for its input.
    return 128ull * static_cast<quint64>(blockSize) * ((1ull << log2Rounds) + static_cast<quint64>(parallel));
}

} // namespace

KeyHash::KeyHash(int log2Rounds, int blockSize, int parallel, QByteArray salt, QByteArray hash)
    : log2Rounds_(log2Rounds), blockSize_(blockSize), parallel_(parallel), salt_(std::move(salt)), hash_(std::move(hash))
{
}

QByteArray KeyHash::derive(const QByteArray& key, const QByteArray& salt, int log2Rounds, int blockSize, int parallel,
                           int bytes)
{
    QByteArray out(bytes, '\0');
    const quint64 memory = memoryFor(log2Rounds, blockSize, parallel) + 1024 * 1024;
    if (EVP_PBE_scrypt(key.constData(), static_cast<size_t>(key.size()),
                       reinterpret_cast<const unsigned char*>(salt.constData()), static_cast<size_t>(salt.size()),
                       1ull << log2Rounds, static_cast<quint64>(blockSize), static_cast<quint64>(parallel), memory,
                       reinterpret_cast<unsigned char*>(out.data()), static_cast<size_t>(out.size())) != 1)
        return {};
    return out;
}

Result<KeyHash> KeyHash::make(const QByteArray& key, int log2Rounds)
{
    QByteArray salt(SaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), SaltBytes) != 1)
        return failure(QStringLiteral("no hay números aleatorios para la sal"));
    QByteArray hash = derive(key, salt, log2Rounds, DefaultBlockSize, 1, HashBytes);
    if (hash.isEmpty())
        return failure(QStringLiteral("scrypt no ha podido calcular la huella"));
    return KeyHash(log2Rounds, DefaultBlockSize, 1, std::move(salt), std::move(hash));
}

Result<KeyHash> KeyHash::parse(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        "^\\$scrypt\\$ln=([0-9]{1,2}),r=([0-9]{1,2}),p=([0-9]{1,2})\\$([A-Za-z0-9+/]{11,88})\\$([A-Za-z0-9+/]{22,88})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return failure(QStringLiteral("no es una huella de parking-station --hash-key"));
    const int log2Rounds = m.captured(1).toInt();
    const int blockSize = m.captured(2).toInt();
    const int parallel = m.captured(3).toInt();
    if (log2Rounds < 10 || log2Rounds > 22 || blockSize < 1 || parallel < 1 ||
        memoryFor(log2Rounds, blockSize, parallel) > MemoryLimit)
        return failure(QStringLiteral("el coste de la huella está fuera de lo admitido"));
    const auto salt = QByteArray::fromBase64Encoding(m.captured(4).toLatin1(), Base64);
    const auto hash = QByteArray::fromBase64Encoding(m.captured(5).toLatin1(), Base64);
    if (!salt || !hash || salt.decoded.size() < 8 || hash.decoded.size() < 16)
        return failure(QStringLiteral("la sal o la huella no se pueden leer"));
    return KeyHash(log2Rounds, blockSize, parallel, salt.decoded, hash.decoded);
}

QString KeyHash::text() const
{
    return QStringLiteral("$scrypt$ln=%1,r=%2,p=%3$%4$%5")
        .arg(log2Rounds_)
        .arg(blockSize_)
        .arg(parallel_)
        .arg(QString::fromLatin1(salt_.toBase64(Base64)), QString::fromLatin1(hash_.toBase64(Base64)));
}

bool KeyHash::matches(const QByteArray& key) const
{
    const QByteArray derived = derive(key, salt_, log2Rounds_, blockSize_, parallel_, static_cast<int>(hash_.size()));
    return derived.size() == hash_.size() && CRYPTO_memcmp(derived.constData(), hash_.constData(), hash_.size()) == 0;
}

} // namespace parking
