#include "StationController.h"

#include "DatabaseError.h"
#include "FieldValue.h"

#include <QCoreApplication>

#include <cmath>

namespace parking {

namespace {

// A text column that may be Null: Null reads as the empty text.
QString textOrEmpty(const QVariant& value)
{
    return value.isNull() ? QString() : toText(value);
}

// Switching on a timer that is already on leaves its running interval alone:
// the next tick comes when it was due.
void switchOn(QTimer& timer)
{
    if (!timer.isActive())
        timer.start();
}

} // namespace

StationController::StationController(Settings& settings, const Clock& workstationClock,
                                     ConnectionFactory factory, Paths paths, QObject* parent)
    : QObject(parent),
      settings_(settings),
      clock_(workstationClock),
      database_(std::move(factory), *this),
      paths_(std::move(paths)),
      logFile_(paths_.logFolder),
      reader1_(new ReaderControl(QStringLiteral("KBIOMAXctl1"), 1, this)),
      reader2_(new ReaderControl(QStringLiteral("KBIOMAXctl2"), 2, this)),
      journal_(paths_.journalFile)
{
    for (ReaderControl* reader : {reader1_, reader2_})
        connect(reader, &ReaderControl::traced, this, &StationController::trace);
    connect(reader1_, &ReaderControl::ReaderDown, this, [this] { readerDown(1); });
    connect(reader2_, &ReaderControl::ReaderDown, this, [this] { readerDown(2); });
    connect(reader1_, &ReaderControl::AnsHotReset, this, [this] { hotReset(1); });
    connect(reader2_, &ReaderControl::AnsHotReset, this, [this] { hotReset(2); });
    for (ReaderControl* reader : {reader1_, reader2_}) {
        const int station = reader->station();
        connect(reader, &ReaderControl::TrackRead, this,
                [this, station](const QString&, const QString&, const QString& track) { KBIOMAXctl_TrackRead(station, track); });
        connect(reader, &ReaderControl::CardNumberRead, this,
                [this, station](const QString& card) { KBIOMAXctl_CardNumberRead(station, card); });
    }

    timer1_.setObjectName(QStringLiteral("Timer1"));
    timer2_.setObjectName(QStringLiteral("Timer2"));
    timer3_.setObjectName(QStringLiteral("Timer3"));
    timer1_.setInterval(4000);
    timer2_.setInterval(3000);
    timer3_.setInterval(3000);
    connect(&timer1_, &QTimer::timeout, this, &StationController::Timer1_Timer);
    connect(&timer2_, &QTimer::timeout, this, &StationController::Timer2_Timer);
    connect(&timer3_, &QTimer::timeout, this, &StationController::Timer3_Timer);
}

StationController::~StationController() = default;

void StationController::trace(const QString& line)
{
    if (traceSink_)
        traceSink_(line);
}

void StationController::guarded(const QString& where, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        WriteTerminalWin(QStringLiteral("ERROR en %1: %2").arg(where, QString::fromUtf8(e.what())));
    }
}

std::unique_ptr<Recordset> StationController::open(const QString& sql)
{
    return database_.Conexion().openRecordset(sql, CursorType::Keyset, LockType::Optimistic);
}

// ---- start-up and closing -------------------------------------------------

StationController::StartUp StationController::Form_Load()
{
    // The three timers run from the moment the window exists.
    timer1_.start();
    timer2_.start();
    timer3_.start();

    ImgRojo1 = false;
    ImgRojo2 = false;
    ImgVerde1 = true;
    ImgVerde2 = true;
    showLights(1);
    showLights(2);

    if (!database_.ConnectDatabase(settings_, paths_.configFile, paths_.programFolder))
        return StartUp::Fatal;
    recorder_ = std::make_unique<MovementRecorder>(database_, settings_.Instalacion, journal_, clock_,
                                                   [this](const QString& line) { WriteTerminalWin(line); });
    // Writes left from an earlier run go to the database first.
    if (recorder_->pending())
        recorder_->drain();

    const QString code = QString::number(settings_.Instalacion);
    try {
        rsLector_ = open(QStringLiteral("SELECT * FROM Lector WHERE CodInstalacion = ") + code);
        if (!rsLector_->hasRow()) {
            WriteTerminalWin(QStringLiteral("No hay fila de Lector para la instalación ") + code);
            Form_Unload();
            return StartUp::WindowClosed;
        }
        const QVariant lectores = rsLector_->field(QStringLiteral("Lectores"));
        if (!lectores.isNull() && toDouble(lectores) == 0)
            return StartUp::NoStations;

        auto installation = open(QStringLiteral(
            "SELECT Codinstalacion,Nombre,Plazas_Parking,Plazas_Libres FROM Instalaciones WHERE CodInstalacion = ") + code);
        if (!installation->hasRow()) {
            WriteTerminalWin(QStringLiteral("No hay fila de Instalaciones para la instalación ") + code);
            Form_Unload();
            return StartUp::WindowClosed;
        }
        NombreInstalacion_ = toText(installation->field(QStringLiteral("Nombre")));
        PlazasLibres = toInt16(installation->field(QStringLiteral("Plazas_Libres")));

        const QString entrada = textOrEmpty(rsLector_->field(QStringLiteral("PARKING_ENTRADA")));
        WriteTerminalWin(QStringLiteral("KBIOMAXctl1.OpenPortRem(") + entrada + QStringLiteral(")"));
        WriteTerminalWin(QStringLiteral("OpenPort 1: ") + QString::number(reader1_->OpenPortRem(entrada)));
        const QString salida = textOrEmpty(rsLector_->field(QStringLiteral("PARKING_SALIDA")));
        WriteTerminalWin(reader2_->name() + QStringLiteral(".OpenPortRem(") + salida + QStringLiteral(")"));
        WriteTerminalWin(QStringLiteral("OpenPort 2: ") + QString::number(reader2_->OpenPortRem(salida)));
        installation.reset();

        WriteTerminalWin(QStringLiteral("SetUpBiomax 1: ") + QString::number(reader1_->SetUpBiomax()));
        WriteTerminalWin(QStringLiteral("SetUpBiomax 2: ") + QString::number(reader2_->SetUpBiomax()));

        QString idle = NombreInstalacion_.text();
        reader1_->WriteDisplay(idle);
        NombreInstalacion_ = idle;
        idle = NombreInstalacion_.text();
        reader2_->WriteDisplay(idle);
        NombreInstalacion_ = idle;

        setPlazasCaption(PlazasLibres);
        text2_ = QString::number(PlazasLibres);
        if (view_)
            view_->setText2(text2_);

        grid_.prepare();
        if (view_)
            view_->gridReset(grid_.rowCount());
        timer2_.stop();
        inService_ = true;
        return StartUp::InService;
    } catch (const std::exception& e) {
        WriteTerminalWin(QStringLiteral("ERROR en el arranque: ") + QString::fromUtf8(e.what()));
        return StartUp::NoStations;
    }
}

void StationController::Form_Unload()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    guarded(QStringLiteral("el cierre"), [this] { reader1_->ClosePort(); });
    rsLector_.reset();
    timer1_.stop();
    timer2_.stop();
    timer3_.stop();
    inService_ = false;
    if (view_)
        view_->closeWindow();
    emit closed();
}

void StationController::cmdCerrar_Click()
{
    Form_Unload();
}

// ---- event log and grid ---------------------------------------------------

void StationController::WriteTerminalWin(const QString& InData)
{
    const bool cleared = eventLog_.size() > 5000;
    if (cleared)
        eventLog_.clear();
    eventLog_ += InData + QStringLiteral("\r\n");
    logFile_.append(clock_.now(), InData);
    trace(InData);
    if (view_)
        view_->logWritten(InData, cleared);
}

void StationController::AddAccessRow(std::uint8_t station, const QString& text, std::int32_t subscriber)
{
    const AccessRow access{subscriber, text, clock_.now().time(), station};
    const bool red = LastAccessResult != 0;
    bool wrapped = false;
    const int row = grid_.write(access, red, &wrapped);
    if (view_) {
        if (wrapped)
            view_->gridReset(grid_.rowCount());
        view_->gridRowWritten(row, access, red);
    }
    trace(QStringLiteral("> grid %1 %2 %3 |%4| %5")
              .arg(row)
              .arg(station)
              .arg(subscriber)
              .arg(text, red ? QStringLiteral("red") : QStringLiteral("black")));
}

void StationController::setPlazasCaption(int value)
{
    trace(QStringLiteral("> plazas %1").arg(value));
    if (view_)
        view_->setPlazasCaption(value);
}

void StationController::alert(const QString& text, const QString& title, AlertIcon icon)
{
    trace(QStringLiteral("> alert |") + text + QLatin1Char('|'));
    if (view_)
        view_->alert(text, title, icon);
}

// ---- relays, displays, lights ---------------------------------------------

void StationController::OpenBarrier1()
{
    WriteTerminalWin(QStringLiteral("CloseRelay: ") + QString::number(reader1_->CloseRelay(0, 6)));
}

void StationController::OpenBarrier2()
{
    WriteTerminalWin(QStringLiteral("CloseRelay: ") + QString::number(reader2_->CloseRelay(0, 6)));
}

void StationController::cmdAbrirPuerta1_Click()
{
    guarded(QStringLiteral("Abrir Entrada"), [this] {
        WriteTerminalWin(QStringLiteral("CloseRelay: ") + QString::number(reader1_->CloseRelay(0, 100)));
    });
}

void StationController::cmdAbrirPuerta2_Click()
{
    guarded(QStringLiteral("Abrir Salida"), [this] {
        WriteTerminalWin(QStringLiteral("CloseRelay: ") + QString::number(reader2_->CloseRelay(0, 100)));
    });
}

void StationController::ShowReaderMessage(std::uint8_t station, const QString& text)
{
    QString shown = text;
    if (station == 1) {
        reader1_->WriteDisplay(shown);
        switchOn(timer2_);
        MensajeActivo1 = 1;
    } else {
        reader2_->WriteDisplay(shown);
        switchOn(timer3_);
        MensajeActivo2 = 1;
    }
}

void StationController::Timer2_Timer()
{
    restoreIdleText(1);
}

void StationController::Timer3_Timer()
{
    restoreIdleText(2);
}

void StationController::restoreIdleText(int station)
{
    guarded(QStringLiteral("Timer%1").arg(station + 1), [this, station] {
        std::uint8_t& active = station == 1 ? MensajeActivo1 : MensajeActivo2;
        if (active == 1) {
            (station == 1 ? timer2_ : timer3_).stop();
            active = 0;
        }
        QString idle = NombreInstalacion_.text();
        (station == 1 ? reader1_ : reader2_)->WriteDisplay(idle);
        NombreInstalacion_ = idle;
    });
}

void StationController::showLights(int station)
{
    const bool green = greenVisible(station);
    const bool red = redVisible(station);
    trace(QStringLiteral("> light %1 %2").arg(station).arg(green ? QStringLiteral("green") : QStringLiteral("red")));
    if (view_)
        view_->setLights(station, green, red);
}

void StationController::readerDown(int station)
{
    (station == 1 ? ImgRojo1 : ImgRojo2) = true;
    (station == 1 ? ImgVerde1 : ImgVerde2) = false;
    showLights(station);
}

void StationController::hotReset(int station)
{
    (station == 1 ? ImgVerde1 : ImgVerde2) = true;
    showLights(station);
    WriteTerminalWin(QStringLiteral("/") + QStringLiteral("AnsHotReset "));
}

// ---- probe ------------------------------------------------------------------

void StationController::Timer1_Timer()
{
    if (unloaded_ || database_.probing())
        return;
    database_.CheckConnection();
    if (recorder_ && recorder_->pending())
        recorder_->drain();
}

// ---- free-space box ---------------------------------------------------------

bool StationController::text2_KeyPress(QChar key)
{
    if ((key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QChar(8))
        return true;
    if (view_)
        view_->beep();
    return false;
}


// ---- helpers ----------------------------------------------------------------

QString StationController::LongHex(double Number)
{
    QString result;
    double n = Number;
    do {
        const double q = std::floor(n / 16);
        const int d = static_cast<int>(n - q * 16);
        result.prepend(QLatin1Char("0123456789ABCDEF"[d & 15]));
        n = q;
    } while (n > 0);
    return result;
}

// ---- ConnectionUi -----------------------------------------------------------

void StationController::showFatal(const QString& text, const QString& title)
{
    alert(text, title, AlertIcon::Critical);
}

void StationController::showProgress()
{
    trace(QStringLiteral("> progress show"));
    if (view_)
        view_->showProgress();
}

void StationController::hideProgress()
{
    trace(QStringLiteral("> progress hide"));
    if (view_)
        view_->hideProgress();
}

void StationController::reportFailure(const QString& what)
{
    WriteTerminalWin(QStringLiteral("ERROR de conexión: ") + what);
}

void StationController::pumpEvents(std::chrono::milliseconds wait)
{
    pumpQtEvents(wait);
}

} // namespace parking
