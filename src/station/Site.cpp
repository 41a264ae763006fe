#include "Site.h"

#include "DatabaseError.h"
#include "FieldValue.h"

namespace parking {

Site::Site(EventLog& log, ConnectionMonitor& monitor, const Clock& clock, std::int16_t installation,
           StatusBoard& status, StationView& outputs)
    : log_(log), monitor_(monitor), clock_(clock), installation_(installation), status_(status), outputs_(outputs)
{
}

std::shared_ptr<Connection> Site::connection() const
{
    auto c = monitor_.connection();
    if (!c)
        throw DatabaseError(QStringLiteral("The station is not connected"));
    return c;
}

void Site::connectRecorder(WriteJournal& journal)
{
    for (const QByteArray& raw : journal.takeDamagedLines())
        log_.write(QStringLiteral("DIARIO: línea dañada, no se repite: ") + QString::fromLatin1(raw.toHex(' ')));
    recorder_ = std::make_unique<MovementRecorder>(monitor_.database(), installation(), journal, clock_,
                                                   [this](const QString& line) { log_.write(line); });
}

MovementRecorder& Site::recorder() const
{
    if (!recorder_)
        throw DatabaseError(QStringLiteral("The station is not connected"));
    return *recorder_;
}

void Site::showFreeSpaces(int value)
{
    outputs_.setFreeSpacesCaption(value);
}

QString Site::readerMessage(const char* column) const
{
    if (!readerRow_)
        throw DatabaseError(QStringLiteral("There is no reader configuration row"));
    const QVariant value = readerRow_->field(QLatin1String(column));
    return fixedText(value.isNull() ? QString() : toText(value), MessageWidth);
}

void Site::prepareGrid()
{
    grid_.prepare();
    outputs_.gridReset(grid_.rowCount());
}

void Site::addAccessRow(int station, const QString& text, std::int32_t subscriber)
{
    const AccessRow access{subscriber, text, clock_.now().time(), station};
    const bool red = lastAccessResult_ != AccessResult::Granted;
    const AccessGrid::Written written = grid_.write(access, red);
    if (written.wrapped)
        outputs_.gridReset(grid_.rowCount());
    outputs_.gridRowWritten(written.row, access, red);
}

void Site::alert(const QString& text, const QString& title, AlertIcon icon)
{
    outputs_.alert(text, title, icon);
}

} // namespace parking
