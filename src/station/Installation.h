#pragma once
// The installation this program serves, as both stations share it: its
// code, its name (both displays' idle text), its free-space count as last
// read or written, the reader configuration row with the display messages,
// and the last entrance decision (the grid's colour follows it). It
// decides nothing; the stations do.
#include "AccessResult.h"
#include "Connection.h"
#include "FixedText.h"

#include <cstdint>
#include <memory>

namespace parking {

class Installation {
public:
    // Display messages are this wide; the idle text (the name) is wider.
    static constexpr qsizetype MessageWidth = 32;
    static constexpr qsizetype NameWidth = 40;

    explicit Installation(std::int16_t code) : code_(code) {}

    std::int16_t code() const { return code_; }

    const QString& name() const { return name_.text(); }
    void setName(const QString& name) { name_ = name; }

    std::int16_t freeSpaces() const { return freeSpaces_; }
    void setFreeSpaces(std::int16_t value) { freeSpaces_ = value; }

    void setReaderRow(std::unique_ptr<Recordset> row) { readerRow_ = std::move(row); }
    const Recordset* readerRow() const { return readerRow_.get(); }
    // A display message from a column of the reader row, MessageWidth
    // characters; an empty column shows blanks. Throws DatabaseError when
    // there is no row.
    QString readerMessage(const char* column) const;

    // The colour of every grid row, exit rows included, follows the last
    // entrance decision.
    AccessResult lastAccessResult() const { return lastAccessResult_; }
    void setLastAccessResult(AccessResult r) { lastAccessResult_ = r; }

private:
    const std::int16_t code_;
    FixedText<NameWidth> name_;
    std::int16_t freeSpaces_ = 0;
    std::unique_ptr<Recordset> readerRow_;
    AccessResult lastAccessResult_ = AccessResult::Granted;
};

} // namespace parking
