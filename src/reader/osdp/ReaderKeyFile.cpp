#include "ReaderKeyFile.h"

#include "PrivateFile.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parking::osdp {

namespace {

std::optional<Block> parseKey(const QString& text)
{
    if (text.size() != 32)
        return std::nullopt;
    Block key{};
    for (int i = 0; i < 16; ++i) {
        bool ok = false;
        const uint v = text.mid(i * 2, 2).toUInt(&ok, 16);
        if (!ok || !text[i * 2].isLetterOrNumber() || !text[i * 2 + 1].isLetterOrNumber())
            return std::nullopt;
        key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
    }
    return key;
}

QString keyText(const Block& key)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(key.data()), 16).toHex().toUpper());
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Writes `bytes` to a new file beside `path`, forces it to disk and puts
// it in place of `path`.
Result<void> replaceAtomically(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".nuevo";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return failure(QStringLiteral("no se puede crear %1: %2").arg(QFile::decodeName(temporary), systemError()));
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n <= 0) {
            const QString why = systemError();
            ::close(fd);
            ::unlink(temporary.constData());
            return failure(QStringLiteral("no se puede escribir %1: %2").arg(QFile::decodeName(temporary), why));
        }
        written += n;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(temporary.constData(), target.constData()) != 0) {
        const QString why = systemError();
        ::unlink(temporary.constData());
        return failure(QStringLiteral("no se puede guardar %1: %2").arg(path, why));
    }
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

} // namespace

Result<std::vector<StoredKey>> ReaderKeyFile::load(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return std::vector<StoredKey>{};
        return failure(QStringLiteral("no se puede leer el fichero de claves %1: %2").arg(path, systemError()));
    }
    if (const auto allowed = checkPrivate(path, QStringLiteral("el fichero de claves")); !allowed)
        return failure(allowed.error());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("no se puede leer el fichero de claves %1").arg(path));
    return parse(file.readAll(), path);
}

Result<std::vector<StoredKey>> ReaderKeyFile::parse(const QByteArray& text, const QString& path)
{
    std::vector<StoredKey> keys;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        line = line.left(line.indexOf(QLatin1Char('#'))).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool ok = false;
        const int address = words.size() == 3 ? words[1].toInt(&ok) : -1;
        const auto key = words.size() == 3 ? parseKey(words[2]) : std::nullopt;
        if (!ok || address < 0 || address > MaxAddress || !key)
            return failure(QStringLiteral("fichero de claves %1, línea %2: se espera DISPOSITIVO DIRECCION CLAVE (32 "
                                          "cifras hexadecimales)")
                               .arg(path)
                               .arg(i + 1));
        keys.push_back({words[0], address, *key});
    }
    return keys;
}

std::optional<Block> ReaderKeyFile::find(const std::vector<StoredKey>& keys, const QString& device, int address)
{
    for (const StoredKey& k : keys) {
        if (k.device == device && k.address == address)
            return k.key;
    }
    return std::nullopt;
}

Result<void> ReaderKeyFile::store(const QString& path, const QString& device, int address, const Block& key)
{
    auto loaded = load(path);
    if (!loaded)
        return failure(loaded.error());
    std::vector<StoredKey> keys = std::move(*loaded);
    if (!storable(device))
        return failure(QStringLiteral("no se guarda la clave del lector %1: el dispositivo tiene blancos o \"#\"").arg(device));
    std::erase_if(keys, [&](const StoredKey& k) { return k.device == device && k.address == address; });
    keys.push_back({device, address, key});
    QDir().mkpath(QFileInfo(path).absolutePath());
    return replaceAtomically(path, format(keys));
}

Result<void> ReaderKeyFile::move(const QString& path, const QString& device, int from, int to)
{
    auto loaded = load(path);
    if (!loaded)
        return failure(loaded.error());
    std::vector<StoredKey> keys = std::move(*loaded);
    const auto key = find(keys, device, from);
    if (!key || from == to)
        return {};
    std::erase_if(keys, [&](const StoredKey& k) { return k.device == device && (k.address == from || k.address == to); });
    keys.push_back({device, to, *key});
    return replaceAtomically(path, format(keys));
}

bool ReaderKeyFile::storable(const QString& device)
{
    // The file's words are separated by blanks and "#" starts a comment: a
    // device name with either would make a line that does not read back,
    // and with it every key in the file unusable.
    return !device.isEmpty() && std::none_of(device.begin(), device.end(), [](QChar c) {
        return c.isSpace() || c == QLatin1Char('#') || c.category() == QChar::Other_Control;
    });
}

QByteArray ReaderKeyFile::format(const std::vector<StoredKey>& keys)
{
    QByteArray text = "# Claves de canal seguro de los lectores: DISPOSITIVO DIRECCION CLAVE\n";
    for (const StoredKey& k : keys)
        text += (k.device + QLatin1Char(' ') + QString::number(k.address) + QLatin1Char(' ') + keyText(k.key)).toUtf8() + '\n';
    return text;
}

} // namespace parking::osdp
