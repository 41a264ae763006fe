#pragma once
// The readers' Secure Channel base keys: one line per reader,
// "DEVICE ADDR KEY" (KEY: 32 hexadecimal digits); "#" starts a comment.
// The file is private to the program's account: one that its group or
// others may read is not used (as ssh treats a private key). It is
// rewritten whole, atomically (temporary file, fsync, rename), mode 0600.
//
// A key never appears in an error text.
#include "Result.h"
#include "SecureChannel.h"

#include <QString>

#include <optional>
#include <vector>

namespace parking::osdp {

struct StoredKey {
    QString device;
    int address = 0;
    Block key{};
};

class ReaderKeyFile {
public:
    // A missing file holds no keys. The fault otherwise: unsafe
    // permissions, unreadable, or a malformed line (named by its number).
    static Result<std::vector<StoredKey>> load(const QString& path);
    // The file's text, read as load() does; `path` only names it in a fault.
    static Result<std::vector<StoredKey>> parse(const QByteArray& text, const QString& path);
    // The text store() writes for `keys`.
    static QByteArray format(const std::vector<StoredKey>& keys);
    // Whether a key for `device` can be kept: a name the file reads back.
    static bool storable(const QString& device);
    // The reader's key, added or replaced.
    static Result<void> store(const QString& path, const QString& device, int address, const Block& key);
    // The key of the reader at `from` now belongs to `to` on the same
    // device (its address was changed); nothing to do without one.
    static Result<void> move(const QString& path, const QString& device, int from, int to);
    // The key for a reader among `keys`, if any.
    static std::optional<Block> find(const std::vector<StoredKey>& keys, const QString& device, int address);
};

} // namespace parking::osdp
