#pragma once
// An operator's key as the configuration keeps it: salted and slow to
// guess, never the key itself. The text form is the usual one for scrypt,
// "$scrypt$ln=15,r=8,p=1$SALT$HASH" (SALT and HASH in base64 without
// padding), so the cost can be raised later without breaking older lines.
// scrypt because OpenSSL, already linked for the readers' Secure Channel,
// has it; nothing here is written by hand but the text form.
#include "Result.h"

#include <QByteArray>
#include <QString>

namespace parking {

class KeyHash {
public:
    // The cost of a new hash: 2^15 rounds of 8 blocks, 32 MiB, about 0.2 s
    // on a small two-core gate PC.
    static constexpr int DefaultLog2Rounds = 15;
    static constexpr int DefaultBlockSize = 8;
    static constexpr int SaltBytes = 16;
    static constexpr int HashBytes = 32;
    // A hash read from a file may ask for no more than this memory.
    static constexpr quint64 MemoryLimit = 256ull * 1024 * 1024;

    // A new hash of `key` with a fresh random salt, or why not.
    static Result<KeyHash> make(const QByteArray& key, int log2Rounds = DefaultLog2Rounds);
    // A hash in its text form, or what is wrong with it.
    static Result<KeyHash> parse(const QString& text);

    QString text() const;
    // Whether `key` is the key hashed; the comparison takes the same time
    // however much of it matches.
    bool matches(const QByteArray& key) const;
    // The same work as matches() with the same cost, for a name nobody has.
    void spendAsMatching(const QByteArray& key) const { (void)matches(key); }

private:
    KeyHash(int log2Rounds, int blockSize, int parallel, QByteArray salt, QByteArray hash);
    static QByteArray derive(const QByteArray& key, const QByteArray& salt, int log2Rounds, int blockSize,
                             int parallel, int bytes);

    int log2Rounds_;
    int blockSize_;
    int parallel_;
    QByteArray salt_;
    QByteArray hash_;
};

} // namespace parking
