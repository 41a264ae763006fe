#include "OperatorWindow.h"

#include "ConnectionProgressDialog.h"
#include "WindowArt.h"
#include "StationController.h"
#include "WindowLayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>

#include <type_traits>

namespace parking {

namespace {

// A control of the layout table, with its name, place and caption.
template <class W>
W* place(QWidget* parent, const char* name)
{
    const ControlPlacement& p = placement(name);
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(twipsRect(p.left, p.top, p.width, p.height));
    if constexpr (std::is_base_of_v<QPushButton, W>) {
        w->setText(QString::fromUtf8(p.caption));
        w->setAutoDefault(false);
    } else if constexpr (std::is_base_of_v<QLabel, W>) {
        if (p.caption)
            w->setText(QString::fromUtf8(p.caption));
    } else if constexpr (std::is_base_of_v<QGroupBox, W>) {
        w->setTitle(QString::fromUtf8(p.caption));
    }
    return w;
}

} // namespace

std::span<const ControlPlacement> OperatorWindow::layout()
{
    return windowLayout();
}

OperatorWindow::OperatorWindow(StationController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller)
{
    build();
}

OperatorWindow::~OperatorWindow()
{
    delete progress_;
}

void OperatorWindow::build()
{
    setObjectName(QStringLiteral("OperatorWindow"));
    setWindowTitle(Title);
    setWindowIcon(programIcon());
    setFixedSize(11070 / 15, 6150 / 15);
    buildTabs();
    placeControls();
    connectControls();
}

void OperatorWindow::buildTabs()
{
    // The tab control: a tab bar over two pages that each cover the whole
    // control, so that the controls on a page are placed in the control's
    // own coordinates.
    auto* tabControl = place<QWidget>(this, "SSTab1");
    accessPage_ = new QWidget(tabControl);
    accessPage_->setObjectName(QStringLiteral("TabControlAcceso"));
    accessPage_->setGeometry(QRect(QPoint(0, 0), tabControl->size()));
    statusPage_ = new QWidget(tabControl);
    statusPage_->setObjectName(QStringLiteral("TabLineaEstado"));
    statusPage_->setGeometry(QRect(QPoint(0, 0), tabControl->size()));
    tabs_ = new QTabBar(tabControl);
    tabs_->setObjectName(QStringLiteral("SSTab1Tabs"));
    tabs_->addTab(QStringLiteral("Control Acceso"));
    tabs_->addTab(QStringLiteral("Línea de Estado"));
    tabs_->setExpanding(true);
    tabs_->setGeometry(0, 0, tabControl->width(), 360 / 15);
    connect(tabs_, &QTabBar::currentChanged, this, &OperatorWindow::showTab);

    accessGrid_ = place<QTableWidget>(accessPage_, "SGAccesos");
    accessGrid_->setColumnCount(4);
    accessGrid_->setHorizontalHeaderLabels({QStringLiteral("Abonado"), QStringLiteral("Descripcion"),
                                            QStringLiteral("Hora"), QStringLiteral("Lector")});
    const int widths[] = {900, 3495, 1005, 795};
    for (int c = 0; c < 4; ++c)
        accessGrid_->setColumnWidth(c, widths[c] / 15);
    accessGrid_->verticalHeader()->setFixedWidth(330 / 15);
    accessGrid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    accessGrid_->verticalHeader()->setDefaultSectionSize(17);
    accessGrid_->horizontalHeader()->setFont(namedFont("Verdana", "DejaVu Sans", 8.25, false));
    accessGrid_->setFont(namedFont("Tahoma", "DejaVu Sans", 8.25, false));
    accessGrid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    accessGrid_->setAlternatingRowColors(true);
    QPalette gridPalette = accessGrid_->palette();
    gridPalette.setColor(QPalette::Base, QApplication::palette().color(QPalette::Light));
    gridPalette.setColor(QPalette::AlternateBase, QApplication::palette().color(QPalette::ToolTipBase));
    accessGrid_->setPalette(gridPalette);
    accessGrid_->setRowCount(AccessGrid::InitialRows);

    eventLog_ = new QPlainTextEdit(statusPage_);
    eventLog_->setObjectName(QStringLiteral("txt_Ventana"));
    eventLog_->setGeometry(twipsRect(0, 360, 6630, 4575));
    eventLog_->setReadOnly(true);
    eventLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    eventLog_->setLineWrapMode(QPlainTextEdit::NoWrap);
    tabs_->raise();
    showTab(0);
}

void OperatorWindow::placeControls()
{
    quitButton_ = place<QPushButton>(this, "cmdCerrar");
    controlsOf(1).openButton = place<QPushButton>(this, "cmdAbrirPuerta1");
    controlsOf(2).openButton = place<QPushButton>(this, "cmdAbrirPuerta2");

    // Each light is two images in one place; the green one, on top, shows
    // while the reader answers; the red one from the reader's first fall.
    const char* const frames[] = {"Frame1", "Frame2"};
    const char* const reds[] = {"ImgRojo1", "ImgRojo2"};
    const char* const greens[] = {"ImgVerde1", "ImgVerde2"};
    for (int i = 0; i < 2; ++i) {
        auto* frame = place<QGroupBox>(this, frames[i]);
        StationControls& controls = stations_[static_cast<std::size_t>(i)];
        controls.red = place<QLabel>(frame, reds[i]);
        controls.red->setPixmap(redLight());
        controls.red->setScaledContents(true);
        controls.red->hide();
        controls.green = place<QLabel>(frame, greens[i]);
        controls.green->setPixmap(greenLight());
        controls.green->setScaledContents(true);
    }

    auto* caption = place<QLabel>(this, "Label1");
    caption->setFont(namedFont("MS Sans Serif", "DejaVu Sans", 13.5, true));
    freeSpacesCaption_ = place<QLabel>(this, "lbl_Plazas");
    freeSpacesCaption_->setFont(namedFont("Arial", "Liberation Sans", 27.75, true));
    freeSpacesCaption_->setAlignment(Qt::AlignCenter);
    QPalette plazasPalette = freeSpacesCaption_->palette();
    plazasPalette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::Highlight));
    freeSpacesCaption_->setPalette(plazasPalette);
    freeSpacesCaption_->setText(QStringLiteral("0"));

    // Out of use: shown, but out of the operator's hands.
    const QList<QWidget*> outOfUse = {place<QPushButton>(this, "cmd_IniciarPlazas"),
                                      place<QPushButton>(this, "cmd_EstablecerPlazas"), place<QLineEdit>(this, "Text1"),
                                      place<QPushButton>(this, "Command1"), place<QPushButton>(this, "Command2")};
    for (QWidget* w : outOfUse)
        w->setEnabled(false);

    place<QLabel>(this, "Label2")->setWordWrap(true);
    freeSpacesBox_ = place<QLineEdit>(this, "text2");
    freeSpacesBox_->setMaxLength(14);
    freeSpacesBox_->setText(QStringLiteral("0"));
    // Typed keys go through the station's filter; the validator also keeps
    // pasted text to digits.
    freeSpacesBox_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), freeSpacesBox_));
    freeSpacesBox_->installEventFilter(this);
    updateButton_ = place<QPushButton>(this, "cmdActualiza");
}

void OperatorWindow::connectControls()
{
    connect(quitButton_, &QPushButton::clicked, this, [this] { controller_.close(); });
    for (int station : {1, 2}) {
        connect(controlsOf(station).openButton, &QPushButton::clicked, this,
                [this, station] { controller_.openBarrierByHand(station); });
    }
    connect(updateButton_, &QPushButton::clicked, this,
            [this] { controller_.setFreeSpacesByHand(freeSpacesBox_->text()); });
}

void OperatorWindow::showTab(int index)
{
    accessPage_->setVisible(index == 0);
    statusPage_->setVisible(index == 1);
    if (tabs_->currentIndex() != index)
        tabs_->setCurrentIndex(index);
}

bool OperatorWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == freeSpacesBox_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        QChar c;
        if (key->key() == Qt::Key_Backspace)
            c = QChar(8);
        else if (!key->text().isEmpty())
            c = key->text().front();
        if (!c.isNull() && !acceptsFreeSpacesKey(c)) {
            beep();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Two lamps a station: the green one while the reader answers, the red
// one from its first fall on, left under the green one once it answers
// again.
void OperatorWindow::readerOnline(StationRole station, bool online)
{
    controlsOf(station).green->setVisible(online);
    if (!online)
        controlsOf(station).red->setVisible(true);
}

void OperatorWindow::freeSpacesChanged(int freeSpaces)
{
    freeSpacesCaption_->setText(QString::number(freeSpaces));
}

void OperatorWindow::freeSpacesSettingRefused()
{
    freeSpacesBox_->clear();
}

void OperatorWindow::installationRead(const QString&, int, int freeSpaces)
{
    freeSpacesBox_->setText(QString::number(freeSpaces));
}

bool OperatorWindow::acceptsFreeSpacesKey(QChar key)
{
    constexpr QChar Backspace(8);
    return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == Backspace;
}

QString OperatorWindow::logText() const
{
    return eventLog_->toPlainText();
}

QString OperatorWindow::freeSpacesText() const
{
    return freeSpacesBox_->text();
}

void OperatorWindow::logWritten(const QString& line)
{
    // The window's log is emptied when a line arrives while it holds more
    // than its limit (counted as the lines with their line ends).
    if (logCharacters_ > LogLimit) {
        eventLog_->clear();
        logCharacters_ = 0;
    }
    logCharacters_ += line.size() + 2;
    eventLog_->appendPlainText(line);
    eventLog_->verticalScrollBar()->setValue(eventLog_->verticalScrollBar()->maximum());
    eventLog_->repaint();
}

void OperatorWindow::gridReset(int rowCount)
{
    accessGrid_->clearContents();
    accessGrid_->setRowCount(rowCount);
}

void OperatorWindow::gridRowWritten(int row, const AccessRow& access, bool red)
{
    const QString cells[] = {QString::number(access.subscriber), access.text,
                             access.time.toString(QStringLiteral("HH:mm:ss")), QString::number(stationNumber(access.station))};
    for (int c = 0; c < 4; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setForeground(red ? QColor(255, 0, 0) : QColor(0, 0, 0));
        accessGrid_->setItem(row, c, item);
    }
    accessGrid_->viewport()->update();
}

// Shown without waiting for it: the handler that raised it ends now, and
// the next reader event is handled after it, never inside it.
void OperatorWindow::alerted(const Alert& alert)
{
    // A start-up that ends the program has the stop icon; its title says
    // which part failed, the window's for a missing data source.
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title = Title;
    switch (alert.kind) {
    case Alert::Kind::CarParkFull:
    case Alert::Kind::SpacesNotUpdated:
        break;
    case Alert::Kind::NoDataSource:
        icon = QMessageBox::Critical;
        break;
    case Alert::Kind::NoDatabase:
    case Alert::Kind::BadConfiguration:
        icon = QMessageBox::Critical;
        title = QStringLiteral("Error");
        break;
    }
    auto* box = new QMessageBox(icon, title, alert.text, QMessageBox::Ok, isVisible() ? this : nullptr);
    box->setObjectName(QStringLiteral("alert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    if (alertsAutoClose_)
        QTimer::singleShot(0, box, &QMessageBox::accept);
    box->show();
}

void OperatorWindow::beep()
{
    QApplication::beep();
}

// The progress window while a reconnection runs after one has failed.
void OperatorWindow::databaseStateChanged(DatabaseState state, const QDateTime&)
{
    if (state == DatabaseState::Answering)
        setWindowTitle(Title);
    if (state != DatabaseState::Reconnecting) {
        delete progress_;
        return;
    }
    delete progress_;
    progress_ = new ConnectionProgressDialog;
    progress_->show();
}

void OperatorWindow::offlineDecision(StationRole, Outcome)
{
    setWindowTitle(OfflineTitle);
}

void OperatorWindow::stationsClosed()
{
    if (!closing_) {
        closing_ = true;
        close();
    }
}

void OperatorWindow::closeEvent(QCloseEvent* event)
{
    closing_ = true;
    controller_.close();
    event->accept();
}

void OperatorWindow::openBarrier(int station)
{
    controlsOf(station).openButton->click();
}

void OperatorWindow::updateSpaces(const QString& digits)
{
    freeSpacesBox_->setText(digits);
    updateButton_->click();
}

void OperatorWindow::quit()
{
    quitButton_->click();
}

} // namespace parking
