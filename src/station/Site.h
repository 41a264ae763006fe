#pragma once
// What the two stations share: the installation (its code, its name, which
// is both displays' idle text, its free-space count), the reader
// configuration row with the display messages, the last entrance decision,
// the access grid, the movement recorder, and what the operator sees of
// them (the free-space caption, the grid, message boxes).
//
// It decides nothing; the stations do.
#include "AccessGrid.h"
#include "AccessResult.h"
#include "Clock.h"
#include "ConnectionMonitor.h"
#include "EventLog.h"
#include "FixedText.h"
#include "MovementRecorder.h"
#include "StationView.h"
#include "StatusBoard.h"

#include <cstdint>
#include <memory>

namespace parking {

class Site {
public:
    // Display messages are this wide; the idle text (the name) is wider.
    static constexpr qsizetype MessageWidth = 32;
    static constexpr qsizetype NameWidth = 40;

    // `installation`: the code of the installation this program serves.
    Site(EventLog& log, ConnectionMonitor& monitor, const Clock& clock, std::int16_t installation, StatusBoard& status,
         StationView& outputs);

    // Where what the stations show goes (the trace, the window).
    StationView& outputs() const { return outputs_; }
    EventLog& log() { return log_; }
    // What the status page shows; the stations keep it current.
    StatusBoard& status() { return status_; }
    const Clock& clock() const { return clock_; }
    std::int16_t installation() const { return installation_; }

    // The connection for one handler's work. Throws DatabaseError when
    // there is none.
    std::shared_ptr<Connection> connection() const;

    // The recorder exists once the database is connected; recorder() throws
    // DatabaseError before that.
    void connectRecorder(WriteJournal& journal);
    MovementRecorder& recorder() const;
    bool connected() const { return recorder_ != nullptr; }

    const QString& name() const { return name_.text(); }
    void setName(const QString& name) { name_ = name; }

    std::int16_t freeSpaces() const { return freeSpaces_; }
    void setFreeSpaces(std::int16_t value) { freeSpaces_ = value; }
    // The caption "PLAZAS LIBRES" shows `value`.
    void showFreeSpaces(int value);

    void setReaderRow(std::unique_ptr<Recordset> row) { readerRow_ = std::move(row); }
    const Recordset* readerRow() const { return readerRow_.get(); }
    // A display message from a column of the reader row, MessageWidth
    // characters; an empty column shows blanks.
    QString readerMessage(const char* column) const;

    // The colour of every grid row, exit rows included, follows the last
    // entrance decision.
    AccessResult lastAccessResult() const { return lastAccessResult_; }
    void setLastAccessResult(AccessResult r) { lastAccessResult_ = r; }

    const AccessGrid& grid() const { return grid_; }
    void prepareGrid();
    void addAccessRow(int station, const QString& text, std::int32_t subscriber);

    void alert(const QString& text, const QString& title = ApplicationTitle, AlertIcon icon = AlertIcon::None);

private:
    EventLog& log_;
    ConnectionMonitor& monitor_;
    const Clock& clock_;
    const std::int16_t installation_;
    StatusBoard& status_;
    StationView& outputs_;
    std::unique_ptr<MovementRecorder> recorder_;
    FixedText<NameWidth> name_;
    std::int16_t freeSpaces_ = 0;
    std::unique_ptr<Recordset> readerRow_;
    AccessResult lastAccessResult_ = AccessResult::Granted;
    AccessGrid grid_;
};

} // namespace parking
