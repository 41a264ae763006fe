// The passage: from an identification at a reader to the barrier.
#include "StationController.h"

#include "DatabaseError.h"
#include "FieldValue.h"
#include "FreeSpaceCounter.h"
#include "Identification.h"
#include "ModAcceso.h"

namespace parking {

namespace {

const QString Thanks = QStringLiteral("GRACIAS POR SU VISITA");

} // namespace

QString StationController::lectorMessage(const char* column) const
{
    if (!rsLector_)
        throw DatabaseError(QStringLiteral("There is no reader configuration row"));
    const QVariant value = rsLector_->field(QLatin1String(column));
    return fixedText(value.isNull() ? QString() : toText(value), 32);
}

// ---- identification -----------------------------------------------------------

void StationController::KBIOMAXctl_TrackRead(int station, const QString& track)
{
    guarded(QStringLiteral("la lectura del lector %1").arg(station), [&] {
        const auto identity = decodeTrack(station, track);
        if (!identity) {
            // Nothing to identify: the read is kept as it came, nothing opens.
            WriteTerminalWin(QStringLiteral("Lectura no válida en el lector %1: |%2|").arg(station).arg(track));
            return;
        }
        WriteTerminalWin(QStringLiteral("Track: ") + track + QStringLiteral("Len: ") + QString::number(track.size()));
        identified(station, identity->subscriber, identity->installation);
    });
}

void StationController::KBIOMAXctl_CardNumberRead(int station, const QString& card)
{
    guarded(QStringLiteral("la tarjeta del lector %1").arg(station), [&] {
        const auto number = cardNumber(card);
        if (!number) {
            WriteTerminalWin(QStringLiteral("Tarjeta no válida en el lector %1: |%2|").arg(station).arg(card));
            return;
        }
        const QString code = LongHex(*number);
        std::int32_t subscriber = 0;
        std::uint8_t installation = 0;
        LookUpCard(subscriber, installation, code);
        WriteTerminalWin(QStringLiteral("Track: ") + code + QStringLiteral("Len: ") + QString::number(code.size()));
        identified(station, subscriber, installation);
    });
}

void StationController::identified(int station, std::int32_t subscriber, std::uint8_t installation)
{
    if (station == 1) {
        msId1 = subscriber;
        InstalacionAbonado1 = installation;
    } else {
        msId2 = subscriber;
        InstalacionAbonado2 = installation;
    }
    WriteTerminalWin(QStringLiteral("msId%1: ").arg(station) + QString::number(subscriber) + QStringLiteral(" Instalacion:") +
                     QString::number(installation));
    if (station == 1)
        ProcessEntrance();
    else
        ProcessExit();
}

void StationController::LookUpCard(std::int32_t& subscriber, std::uint8_t& installation, const QString& cardCode)
{
    subscriber = 0;
    installation = 0;
    auto rs = database_.Conexion().openRecordset(
        QStringLiteral("SELECT CODINSTALACION,CODIGO FROM ABONADOS WHERE CODTARJETA = '") + cardCode + QStringLiteral("'"),
        CursorType::Dynamic, LockType::ReadOnly);
    if (!rs->hasRow())
        return;
    // A row whose code or installation cannot be used counts as a card
    // held by nobody.
    try {
        const std::int32_t code = toInt32(rs->field(QStringLiteral("Codigo")));
        const std::uint8_t inst = toByte(rs->field(QStringLiteral("CodInstalacion")));
        subscriber = code;
        installation = inst;
    } catch (const DatabaseError& e) {
        WriteTerminalWin(QStringLiteral("Tarjeta %1 con datos no válidos en ABONADOS: %2").arg(cardCode, e.message()));
    }
}

// ---- decision -------------------------------------------------------------------

std::uint8_t StationController::AuthorizeAccess(std::uint8_t installation, std::int32_t subscriber, std::uint8_t station)
{
    LastAccessResult = 0;
    rsAbonado_ = open(QStringLiteral("SELECT Codigo FROM Abonados WHERE Codigo = ") + QString::number(subscriber) +
                      QStringLiteral(" AND CodInstalacion=") + QString::number(installation));
    if (!rsAbonado_->hasRow()) {
        LastAccessResult = SubscriberUnknown;
        const QString message = lectorMessage("MsjIDMal");
        ShowReaderMessage(station, message);
        AddAccessRow(station, message, subscriber);
        rsAbonado_.reset();
        return SubscriberUnknown;
    }
    const std::uint8_t r = ModAcceso(database_.Conexion(), clock_).CheckAccessRights(subscriber, installation);
    LastAccessResult = r;
    const char* column = r == OutsideTimetable ? "MsjHorarioMal"
                         : r == ReceiptsUnpaid ? "MsjImpagado"
                         : r == FeeNotCurrent  ? "MsjBaja"
                                               : nullptr;
    if (!column)
        return r;
    const QString message = lectorMessage(column);
    ShowReaderMessage(station, message);
    AddAccessRow(station, message, subscriber);
    rsAbonado_.reset();
    return r;
}

// ---- passage ----------------------------------------------------------------------

void StationController::ProcessEntrance()
{
    if (!recorder_)
        throw DatabaseError(QStringLiteral("The station is not connected"));
    const QString code = QString::number(settings_.Instalacion);
    auto spaces = open(QStringLiteral("SELECT Plazas_Libres FROM Instalaciones WHERE CodInstalacion = ") + code);
    PlazasLibres = toInt16(spaces->field(QStringLiteral("Plazas_Libres")));
    if (PlazasLibres <= 0) {
        alert(QStringLiteral("NO HAY PLAZAS LIBRES"));
        return;
    }
    if (AuthorizeAccess(InstalacionAbonado1, msId1, 1) != 0)
        return;

    // Granted: from here on the subscriber goes in even if the database
    // stops answering; what cannot be written waits in the journal.
    WriteTerminalWin(QStringLiteral("ID = ") + QString::number(msId1));
    const QString message = lectorMessage("MsjOk");
    recorder_->recordEntrance(msId1, InstalacionAbonado1);
    const auto left = recorder_->takeSpace();
    setPlazasCaption(left ? *left : std::max(0, PlazasLibres - 1));
    OpenBarrier1();
    AddAccessRow(1, message, msId1);
    ShowReaderMessage(1, message);
}

void StationController::ProcessExit()
{
    if (!recorder_)
        throw DatabaseError(QStringLiteral("The station is not connected"));
    // The exit is never refused, and a car is never kept in: the barrier
    // opens whatever the database says.
    WriteTerminalWin(QStringLiteral("ID = ") + QString::number(msId2));
    const QString message = fixedText(Thanks, 32);
    recorder_->recordExit(msId2, InstalacionAbonado2);
    const auto left = recorder_->giveSpace();
    if (left)
        setPlazasCaption(*left);
    OpenBarrier2();
    AddAccessRow(2, message, msId2);
    ShowReaderMessage(2, message);
}

// ---- the operator's setting ----------------------------------------------------

void StationController::cmdActualiza_Click()
{
    guarded(QStringLiteral("Actualiza"), [this] {
        const auto set = FreeSpaceCounter(database_.Conexion(), settings_.Instalacion).setFreeSpaces(text2_);
        if (set) {
            setPlazasCaption(*set);
            return;
        }
        alert(QStringLiteral("NO SE PUEDEN ACTUALIZAR LAS PLAZAS"));
        text2_.clear();
        if (view_)
            view_->setText2(text2_);
    });
}

} // namespace parking
