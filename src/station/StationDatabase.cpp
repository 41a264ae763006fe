#include "StationDatabase.h"

#include "DatabaseError.h"

namespace parking {

void StationDatabase::connectRecorder(WriteJournal& journal)
{
    for (const QByteArray& raw : journal.takeDamagedLines())
        log_.write(QStringLiteral("DIARIO: línea dañada, no se repite: ") + QString::fromLatin1(raw.toHex(' ')));
    recorder_ = std::make_unique<MovementRecorder>(monitor_.database(), installation_, journal, clock_,
                                                   [this](const QString& line) { log_.write(line); }, steadyClock_);
}

MovementRecorder& StationDatabase::recorder() const
{
    if (!recorder_)
        throw DatabaseError(QStringLiteral("The station is not connected"));
    return *recorder_;
}

} // namespace parking
