// The operator window, offscreen, on a real station controller.
#include "QtPrinters.h"
#include "StationFixture.h"
#include "frmComunicar.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace parking;
using namespace parking::test;

namespace {

class OperatorWindow : public StationFixture {
protected:
    void SetUp() override
    {
        seedInstallation();
        window = std::make_unique<frmComunicar>(*station);
        window->setAlertsAutoClose(true);
        station->setView(window.get());
        ASSERT_EQ(start(), StationController::StartUp::InService);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        takeTrace();
    }
    void TearDown() override
    {
        station->setView(nullptr);
        window.reset();
    }
    template <class W>
    W* child(const char* name)
    {
        W* w = window->findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // The control's place in twips, relative to the window (or its frame).
    QRect placeOf(const char* name, QWidget* relativeTo = nullptr)
    {
        QWidget* w = child<QWidget>(name);
        if (!w)
            return {};
        QWidget* base = relativeTo ? relativeTo : window.get();
        return QRect(w->mapTo(base, QPoint(0, 0)), w->size());
    }
    std::unique_ptr<frmComunicar> window;
};

struct Placement {
    const char* name;
    int left, top, width, height;
    const char* caption;
    const char* frame; // nullptr: relative to the window
};

const Placement Layout[] = {
    {"SSTab1", 0, 0, 6765, 6180, nullptr, nullptr},
    {"SGAccesos", 120, 480, 6630, 5595, nullptr, nullptr},
    {"cmdCerrar", 6840, 240, 780, 645, "Salir", nullptr},
    {"cmdAbrirPuerta1", 6840, 960, 1380, 645, "Abrir Entrada", nullptr},
    {"cmdAbrirPuerta2", 6840, 1680, 1380, 645, "Abrir Salida", nullptr},
    {"Frame1", 6840, 2520, 870, 870, "Lector 1", nullptr},
    {"Frame2", 6840, 3480, 870, 870, "Lector 2", nullptr},
    {"ImgVerde1", 315, 360, 240, 240, nullptr, "Frame1"},
    {"ImgRojo1", 315, 360, 240, 240, nullptr, "Frame1"},
    {"ImgVerde2", 315, 405, 240, 240, nullptr, "Frame2"},
    {"ImgRojo2", 315, 405, 240, 240, nullptr, "Frame2"},
    {"Label1", 8400, 240, 2415, 375, "PLAZAS LIBRES", nullptr},
    {"lbl_Plazas", 8280, 720, 2625, 795, nullptr, nullptr},
    {"cmd_IniciarPlazas", 8880, 1800, 1575, 615, "Reiniciar Contador", nullptr},
    {"cmd_EstablecerPlazas", 8880, 2640, 1575, 615, "Establecer Plazas", nullptr},
    {"Text1", 8280, 3960, 1335, 375, nullptr, nullptr},
    {"Command1", 10080, 3720, 735, 375, "Entrada", nullptr},
    {"Command2", 10080, 4200, 735, 375, "Salida", nullptr},
    {"Label2", 8940, 4785, 780, 405, "Actualiza Plazas", nullptr},
    {"text2", 9915, 4845, 960, 345, nullptr, nullptr},
    {"cmdActualiza", 9840, 5355, 1050, 390, "Actualiza", nullptr},
};

TEST_F(OperatorWindow, EveryControlIsWhereTheLayoutPutsIt)
{
    const QString out = QDir::current().filePath(QStringLiteral("frmComunicar.png"));
    ASSERT_TRUE(window->grab().save(out));
    EXPECT_EQ(window->size(), QSize(738, 410));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Parking"));
    for (const Placement& p : Layout) {
        QWidget* frame = p.frame ? child<QWidget>(p.frame) : nullptr;
        EXPECT_EQ(placeOf(p.name, frame), twipsRect(p.left, p.top, p.width, p.height)) << p.name;
        if (p.caption) {
            QWidget* w = child<QWidget>(p.name);
            QString text;
            if (auto* b = qobject_cast<QPushButton*>(w))
                text = b->text();
            else if (auto* l = qobject_cast<QLabel*>(w))
                text = l->text();
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                text = g->title();
            EXPECT_EQ(text, QString::fromUtf8(p.caption)) << p.name;
        }
    }
}

TEST_F(OperatorWindow, OutOfUseControlsAreDisabled)
{
    for (const char* name : {"cmd_IniciarPlazas", "cmd_EstablecerPlazas", "Text1", "Command1", "Command2"})
        EXPECT_FALSE(child<QWidget>(name)->isEnabled()) << name;
}

TEST_F(OperatorWindow, GridHasTheColumnsAndShowsTheStartUpState)
{
    auto* grid = child<QTableWidget>("SGAccesos");
    ASSERT_EQ(grid->columnCount(), 4);
    const char* captions[] = {"Abonado", "Descripcion", "Hora", "Lector"};
    const int widths[] = {900, 3495, 1005, 795};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(grid->horizontalHeaderItem(c)->text(), QString::fromUtf8(captions[c]));
        EXPECT_EQ(grid->columnWidth(c), widths[c] / 15);
    }
    EXPECT_EQ(grid->rowCount(), 500);
    EXPECT_EQ(child<QLabel>("lbl_Plazas")->text(), QStringLiteral("10"));
    EXPECT_EQ(child<QLineEdit>("text2")->text(), QStringLiteral("10"));
    EXPECT_TRUE(child<QPlainTextEdit>("txt_Ventana")->toPlainText().contains(QStringLiteral("SetUpBiomax 2: 0")));
}

TEST_F(OperatorWindow, GridRowsAreColouredByTheLastDecision)
{
    station->LastAccessResult = 2;
    station->AddAccessRow(1, QStringLiteral("FUERA DE HORARIO").leftJustified(32), 1234);
    station->LastAccessResult = 0;
    station->AddAccessRow(2, QStringLiteral("GRACIAS POR SU VISITA").leftJustified(32), 1234);
    auto* grid = child<QTableWidget>("SGAccesos");
    EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("1234"));
    EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("FUERA DE HORARIO").leftJustified(32));
    EXPECT_EQ(grid->item(0, 1)->foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(grid->item(1, 3)->text(), QStringLiteral("2"));
    EXPECT_EQ(grid->item(1, 1)->foreground().color(), QColor(0, 0, 0));
}

TEST_F(OperatorWindow, LightsFollowTheReaders)
{
    station->KBIOMAXctl2().raiseReaderDown();
    EXPECT_FALSE(child<QLabel>("ImgVerde2")->isVisible());
    EXPECT_TRUE(child<QLabel>("ImgRojo2")->isVisible());
    station->KBIOMAXctl2().raiseHotReset();
    EXPECT_TRUE(child<QLabel>("ImgVerde2")->isVisible());
}

TEST_F(OperatorWindow, ManualButtonsCloseTheRelays)
{
    QTest::mouseClick(child<QPushButton>("cmdAbrirPuerta1"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("cmdAbrirPuerta2"), Qt::LeftButton);
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> relay 1 0 100"), QStringLiteral("CloseRelay: 0"),
                                        QStringLiteral("> relay 2 0 100"), QStringLiteral("CloseRelay: 0")}));
}

TEST_F(OperatorWindow, FreeSpaceBoxTakesDigitsOnly)
{
    auto* box = child<QLineEdit>("text2");
    box->setFocus();
    box->clear();
    QTest::keyClicks(box, QStringLiteral("1-2.3,a4"));
    EXPECT_EQ(box->text(), QStringLiteral("1234"));
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), QStringLiteral("123"));
    EXPECT_EQ(station->text2(), QStringLiteral("123"));
    box->setText(QString(20, QLatin1Char('9')));
    EXPECT_LE(box->text().size(), 14);
}

TEST_F(OperatorWindow, CloseBoxDoesWhatSalirDoes)
{
    window->close();
    EXPECT_EQ(takeTrace(), QStringList{QStringLiteral("> closeport 1")});
}

TEST_F(OperatorWindow, ProgressWindowComesFreshForEachOutage)
{
    window->showProgress();
    ASSERT_NE(window->progressWindow(), nullptr);
    window->progressWindow()->Timer1_Timer();
    EXPECT_EQ(window->progressWindow()->Contador(), 1);
    EXPECT_EQ(window->progressWindow()->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("Intentando conectar"));
    window->hideProgress();
    EXPECT_EQ(window->progressWindow(), nullptr);
    window->showProgress();
    EXPECT_EQ(window->progressWindow()->Contador(), 0);
    for (int i = 0; i < 101; ++i)
        window->progressWindow()->Timer1_Timer();
    EXPECT_EQ(window->progressWindow()->Contador(), 0); // 1..100, then 0 again
}

} // namespace
