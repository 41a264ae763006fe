#pragma once
// The installation this program serves, as both stations share it: its
// code, its name (both displays' idle text), its free-space count as last
// read or written, the reader row's display messages (read once at
// start-up), and the last entrance decision (the grid's colour follows
// it). It decides nothing; the stations do.
#include "AccessResult.h"
#include "FixedText.h"
#include "SiteRecords.h"

#include <cstdint>
#include <optional>

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
    // The car park's capacity as read at start-up (nothing: not known).
    std::optional<std::int16_t> capacity() const { return capacity_; }
    void setCapacity(std::optional<std::int16_t> value) { capacity_ = value; }

    void setMessages(const records::ReaderMessages& messages) { messages_ = messages; }
    bool messagesRead() const { return messages_.has_value(); }
    const std::optional<records::ReaderMessages>& messages() const { return messages_; }
    // The message the reader shows for a passage granted, and for a
    // refusal that shows one (nullopt for a silent refusal): MessageWidth
    // characters, an empty column blanks. Throws DatabaseError before the
    // reader row was read.
    QString grantedMessage() const;
    std::optional<QString> refusalMessage(AccessResult refusal) const;

    // The colour of every grid row, exit rows included, follows the last
    // entrance decision.
    AccessResult lastAccessResult() const { return lastAccessResult_; }
    void setLastAccessResult(AccessResult r) { lastAccessResult_ = r; }

private:
    const std::int16_t code_;
    FixedText<NameWidth> name_;
    std::int16_t freeSpaces_ = 0;
    std::optional<std::int16_t> capacity_;
    std::optional<records::ReaderMessages> messages_;
    AccessResult lastAccessResult_ = AccessResult::Granted;
};

} // namespace parking
