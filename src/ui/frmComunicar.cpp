#include "frmComunicar.h"

#include "ProgresoConexionFormulario.h"
#include "StationController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>

namespace parking {

QRect twipsRect(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

namespace {

// The named face, or the nearest one the machine has.
QFont namedFont(const char* family, const char* fallback, qreal points, bool bold)
{
    const QString name = QString::fromLatin1(family);
    QFont f(QFontDatabase::hasFamily(name) ? name : QString::fromLatin1(fallback));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// A 16 x 16 disc; the red light also carries a white bar across.
QPixmap lightDisc(const QColor& fill, const QColor& rim, bool bar)
{
    QPixmap p(16, 16);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setBrush(fill);
    g.setPen(rim);
    g.drawEllipse(1, 1, 14, 14);
    if (bar)
        g.fillRect(3, 7, 10, 3, Qt::white);
    return p;
}

QPixmap greenLight()
{
    return lightDisc(QColor(0, 190, 0), QColor(0, 110, 0), false);
}

QPixmap redLight()
{
    return lightDisc(QColor(220, 0, 0), QColor(140, 0, 0), true);
}

QIcon programIcon()
{
    QPixmap p(32, 32);
    p.fill(QColor(0, 0, 128));
    QPainter g(&p);
    g.setPen(Qt::white);
    QFont f = g.font();
    f.setBold(true);
    f.setPixelSize(26);
    g.setFont(f);
    g.drawText(p.rect(), Qt::AlignCenter, QStringLiteral("P"));
    return QIcon(p);
}

QLabel* lightImage(QWidget* parent, const char* name, const QPixmap& pixmap, const QRect& geometry)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setPixmap(pixmap);
    label->setScaledContents(true);
    label->setGeometry(geometry);
    return label;
}

template <class W>
W* place(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    auto* b = place<QPushButton>(parent, name, geometry);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

} // namespace

frmComunicar::frmComunicar(StationController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller)
{
    build();
}

frmComunicar::~frmComunicar()
{
    delete progress_;
}

void frmComunicar::build()
{
    setObjectName(QStringLiteral("frmComunicar"));
    setWindowTitle(QStringLiteral("Parking"));
    setWindowIcon(programIcon());
    setFixedSize(11070 / 15, 6150 / 15);

    // The tab control: a tab bar over two pages that each cover the whole
    // control, so that the controls on a page are placed in the control's
    // own coordinates.
    SSTab1 = place<QWidget>(this, "SSTab1", twipsRect(0, 0, 6765, 6180));
    pageAccesos_ = place<QWidget>(SSTab1, "TabControlAcceso", QRect(QPoint(0, 0), SSTab1->size()));
    pageEstado_ = place<QWidget>(SSTab1, "TabLineaEstado", QRect(QPoint(0, 0), SSTab1->size()));
    tabs_ = new QTabBar(SSTab1);
    tabs_->setObjectName(QStringLiteral("SSTab1Tabs"));
    tabs_->addTab(QStringLiteral("Control Acceso"));
    tabs_->addTab(QStringLiteral("Línea de Estado"));
    tabs_->setExpanding(true);
    tabs_->setGeometry(0, 0, SSTab1->width(), 360 / 15);
    connect(tabs_, &QTabBar::currentChanged, this, &frmComunicar::showTab);

    SGAccesos = place<QTableWidget>(pageAccesos_, "SGAccesos", twipsRect(120, 480, 6630, 5595));
    SGAccesos->setColumnCount(4);
    SGAccesos->setHorizontalHeaderLabels({QStringLiteral("Abonado"), QStringLiteral("Descripcion"),
                                          QStringLiteral("Hora"), QStringLiteral("Lector")});
    const int widths[] = {900, 3495, 1005, 795};
    for (int c = 0; c < 4; ++c)
        SGAccesos->setColumnWidth(c, widths[c] / 15);
    SGAccesos->verticalHeader()->setFixedWidth(330 / 15);
    SGAccesos->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    SGAccesos->verticalHeader()->setDefaultSectionSize(17);
    SGAccesos->horizontalHeader()->setFont(namedFont("Verdana", "DejaVu Sans", 8.25, false));
    SGAccesos->setFont(namedFont("Tahoma", "DejaVu Sans", 8.25, false));
    SGAccesos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SGAccesos->setAlternatingRowColors(true);
    QPalette gridPalette = SGAccesos->palette();
    gridPalette.setColor(QPalette::Base, QApplication::palette().color(QPalette::Light));
    gridPalette.setColor(QPalette::AlternateBase, QApplication::palette().color(QPalette::ToolTipBase));
    SGAccesos->setPalette(gridPalette);
    SGAccesos->setRowCount(AccessGrid::InitialRows);

    txt_Ventana = place<QPlainTextEdit>(pageEstado_, "txt_Ventana", twipsRect(0, 360, 6630, 4575));
    txt_Ventana->setReadOnly(true);
    txt_Ventana->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_Ventana->setLineWrapMode(QPlainTextEdit::NoWrap);
    tabs_->raise();
    showTab(0);

    cmdCerrar = button(this, "cmdCerrar", QStringLiteral("Salir"), twipsRect(6840, 240, 780, 645));
    cmdAbrirPuerta1 = button(this, "cmdAbrirPuerta1", QStringLiteral("Abrir Entrada"), twipsRect(6840, 960, 1380, 645));
    cmdAbrirPuerta2 = button(this, "cmdAbrirPuerta2", QStringLiteral("Abrir Salida"), twipsRect(6840, 1680, 1380, 645));

    Frame1 = place<QGroupBox>(this, "Frame1", twipsRect(6840, 2520, 870, 870));
    Frame1->setTitle(QStringLiteral("Lector 1"));
    ImgRojo1 = lightImage(Frame1, "ImgRojo1", redLight(), twipsRect(315, 360, 240, 240));
    ImgVerde1 = lightImage(Frame1, "ImgVerde1", greenLight(), twipsRect(315, 360, 240, 240));
    Frame2 = place<QGroupBox>(this, "Frame2", twipsRect(6840, 3480, 870, 870));
    Frame2->setTitle(QStringLiteral("Lector 2"));
    ImgRojo2 = lightImage(Frame2, "ImgRojo2", redLight(), twipsRect(315, 405, 240, 240));
    ImgVerde2 = lightImage(Frame2, "ImgVerde2", greenLight(), twipsRect(315, 405, 240, 240));

    Label1 = place<QLabel>(this, "Label1", twipsRect(8400, 240, 2415, 375));
    Label1->setText(QStringLiteral("PLAZAS LIBRES"));
    Label1->setFont(namedFont("MS Sans Serif", "DejaVu Sans", 13.5, true));
    lbl_Plazas = place<QLabel>(this, "lbl_Plazas", twipsRect(8280, 720, 2625, 795));
    lbl_Plazas->setFont(namedFont("Arial", "Liberation Sans", 27.75, true));
    lbl_Plazas->setAlignment(Qt::AlignCenter);
    QPalette plazasPalette = lbl_Plazas->palette();
    plazasPalette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::Highlight));
    lbl_Plazas->setPalette(plazasPalette);
    lbl_Plazas->setText(QStringLiteral("0"));

    // Out of use: shown, but out of the operator's hands.
    cmd_IniciarPlazas = button(this, "cmd_IniciarPlazas", QStringLiteral("Reiniciar Contador"), twipsRect(8880, 1800, 1575, 615));
    cmd_EstablecerPlazas = button(this, "cmd_EstablecerPlazas", QStringLiteral("Establecer Plazas"), twipsRect(8880, 2640, 1575, 615));
    Text1 = place<QLineEdit>(this, "Text1", twipsRect(8280, 3960, 1335, 375));
    Command1 = button(this, "Command1", QStringLiteral("Entrada"), twipsRect(10080, 3720, 735, 375));
    Command2 = button(this, "Command2", QStringLiteral("Salida"), twipsRect(10080, 4200, 735, 375));
    for (QWidget* w : {static_cast<QWidget*>(cmd_IniciarPlazas), static_cast<QWidget*>(cmd_EstablecerPlazas),
                       static_cast<QWidget*>(Text1), static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2)})
        w->setEnabled(false);

    Label2 = place<QLabel>(this, "Label2", twipsRect(8940, 4785, 780, 405));
    Label2->setText(QStringLiteral("Actualiza Plazas"));
    Label2->setWordWrap(true);
    text2 = place<QLineEdit>(this, "text2", twipsRect(9915, 4845, 960, 345));
    text2->setMaxLength(14);
    text2->setText(QStringLiteral("0"));
    // Typed keys go through the station's filter; the validator also keeps
    // pasted text to digits.
    text2->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), text2));
    text2->installEventFilter(this);
    cmdActualiza = button(this, "cmdActualiza", QStringLiteral("Actualiza"), twipsRect(9840, 5355, 1050, 390));

    connect(cmdCerrar, &QPushButton::clicked, this, [this] { controller_.cmdCerrar_Click(); });
    connect(cmdAbrirPuerta1, &QPushButton::clicked, this, [this] { controller_.cmdAbrirPuerta1_Click(); });
    connect(cmdAbrirPuerta2, &QPushButton::clicked, this, [this] { controller_.cmdAbrirPuerta2_Click(); });
    connect(cmdActualiza, &QPushButton::clicked, this, [this] { controller_.cmdActualiza_Click(); });
    connect(text2, &QLineEdit::textChanged, this, [this](const QString& t) { controller_.setText2(t); });
}

void frmComunicar::showTab(int index)
{
    pageAccesos_->setVisible(index == 0);
    pageEstado_->setVisible(index == 1);
    if (tabs_->currentIndex() != index)
        tabs_->setCurrentIndex(index);
}

bool frmComunicar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == text2 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        QChar c;
        if (key->key() == Qt::Key_Backspace)
            c = QChar(8);
        else if (!key->text().isEmpty())
            c = key->text().front();
        if (!c.isNull() && !controller_.text2_KeyPress(c))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmComunicar::setLights(int station, bool greenVisible, bool redVisible)
{
    (station == 1 ? ImgVerde1 : ImgVerde2)->setVisible(greenVisible);
    (station == 1 ? ImgRojo1 : ImgRojo2)->setVisible(redVisible);
}

void frmComunicar::setPlazasCaption(int freeSpaces)
{
    lbl_Plazas->setText(QString::number(freeSpaces));
}

void frmComunicar::setText2(const QString& text)
{
    text2->setText(text);
}

void frmComunicar::logWritten(const QString& line, bool cleared)
{
    if (cleared)
        txt_Ventana->clear();
    txt_Ventana->appendPlainText(line);
    txt_Ventana->verticalScrollBar()->setValue(txt_Ventana->verticalScrollBar()->maximum());
    txt_Ventana->repaint();
}

void frmComunicar::gridReset(int rowCount)
{
    SGAccesos->clearContents();
    SGAccesos->setRowCount(rowCount);
}

void frmComunicar::gridRowWritten(int row, const AccessRow& access, bool red)
{
    const QString cells[] = {QString::number(access.subscriber), access.text,
                             access.time.toString(QStringLiteral("HH:mm:ss")), QString::number(access.station)};
    for (int c = 0; c < 4; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setForeground(red ? QColor(255, 0, 0) : QColor(0, 0, 0));
        SGAccesos->setItem(row, c, item);
    }
    SGAccesos->viewport()->update();
}

void frmComunicar::alert(const QString& text, const QString& title, AlertIcon icon)
{
    QMessageBox box(icon == AlertIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, isVisible() ? this : nullptr);
    box.setObjectName(QStringLiteral("alert"));
    if (alertsAutoClose_)
        QTimer::singleShot(0, &box, &QMessageBox::accept);
    box.exec();
}

void frmComunicar::beep()
{
    QApplication::beep();
}

void frmComunicar::showProgress()
{
    delete progress_;
    progress_ = new ProgresoConexionFormulario;
    progress_->show();
}

void frmComunicar::hideProgress()
{
    delete progress_;
}

void frmComunicar::closeWindow()
{
    if (!closing_) {
        closing_ = true;
        close();
    }
}

void frmComunicar::closeEvent(QCloseEvent* event)
{
    closing_ = true;
    controller_.Form_Unload();
    event->accept();
}

void frmComunicar::openBarrier(int station)
{
    (station == 1 ? cmdAbrirPuerta1 : cmdAbrirPuerta2)->click();
}

void frmComunicar::updateSpaces(const QString& digits)
{
    text2->setText(digits);
    cmdActualiza->click();
}

void frmComunicar::quit()
{
    cmdCerrar->click();
}

} // namespace parking
