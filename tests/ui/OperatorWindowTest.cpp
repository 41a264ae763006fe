// The operator window, offscreen, on a real station controller.
#include "QtPrinters.h"
#include "StationFixture.h"
#include "OperatorWindow.h"

#include <QGroupBox>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QApplication>

using namespace parking;
using namespace parking::test;

namespace {

class OperatorWindowTest : public StationFixture {
protected:
    void SetUp() override
    {
        seedInstallation();
        window = std::make_unique<OperatorWindow>(*controller);
        window->setAlertsAutoClose(true);
        controller->setView(window.get());
        ASSERT_EQ(start(), StationController::StartUp::InService);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        takeTrace();
    }
    void TearDown() override
    {
        controller->setView(nullptr);
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
    std::unique_ptr<OperatorWindow> window;
};

TEST_F(OperatorWindowTest, EveryControlIsThereVisibleWithItsCaption)
{
    QTemporaryDir shots;
    ASSERT_TRUE(window->grab().save(shots.filePath(QStringLiteral("OperatorWindow.png"))));
    EXPECT_EQ(window->size(), QSize(738, 410));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Parking"));
    for (const ControlPlacement& p : OperatorWindow::layout()) {
        QWidget* w = child<QWidget>(p.name);
        ASSERT_NE(w, nullptr) << p.name;
        // The grid's page is the one shown; the green light covers the red one.
        if (qstrcmp(p.name, "ImgRojo1") != 0 && qstrcmp(p.name, "ImgRojo2") != 0) {
            EXPECT_TRUE(w->isVisible()) << p.name;
        }
        QWidget* frame = p.frame ? child<QWidget>(p.frame) : nullptr;
        EXPECT_EQ(placeOf(p.name, frame), twipsRect(p.left, p.top, p.width, p.height)) << p.name;
        if (p.caption) {
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

TEST_F(OperatorWindowTest, OutOfUseControlsAreDisabled)
{
    for (const char* name : {"cmd_IniciarPlazas", "cmd_EstablecerPlazas", "Text1", "Command1", "Command2"})
        EXPECT_FALSE(child<QWidget>(name)->isEnabled()) << name;
}

TEST_F(OperatorWindowTest, GridHasTheColumnsAndShowsTheStartUpState)
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

TEST_F(OperatorWindowTest, GridRowsAreColouredByTheLastDecision)
{
    controller->grid().add(StationRole::Entrance, QStringLiteral("FUERA DE HORARIO").leftJustified(32), 1234, true);
    controller->grid().add(StationRole::Exit, QStringLiteral("GRACIAS POR SU VISITA").leftJustified(32), 1234, false);
    auto* grid = child<QTableWidget>("SGAccesos");
    EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("1234"));
    EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("FUERA DE HORARIO").leftJustified(32));
    EXPECT_EQ(grid->item(0, 1)->foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(grid->item(1, 3)->text(), QStringLiteral("2"));
    EXPECT_EQ(grid->item(1, 1)->foreground().color(), QColor(0, 0, 0));
}

TEST_F(OperatorWindowTest, AReadArrivingWhileAnAlertIsUpIsHandledAfterTheFirstHandler)
{
    window->setAlertsAutoClose(false);
    // Whatever happens, no box outlives the test (a box waited for would
    // hold the test here).
    QTimer::singleShot(5000, window.get(), [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->accept();
    });
    db.exec(QStringLiteral("UPDATE INSTALACIONES SET PLAZAS_LIBRES = 0"));
    // The exit's read is already waiting when the entrance's is handled.
    QMetaObject::invokeMethod(
        controller.get(), [this] { controller->reader(2).raiseTrackRead(QStringLiteral("%B0070000001234?")); },
        Qt::QueuedConnection);
    controller->reader(1).raiseTrackRead(QStringLiteral("%B0070000001234?"));
    const QStringList first = takeTrace();
    EXPECT_FALSE(first.filter(QStringLiteral("> alert |NO HAY PLAZAS LIBRES|")).isEmpty()) << first.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(first.filter(QStringLiteral("> relay 2")).isEmpty()) << first.join(QLatin1Char('\n')).toStdString();
    auto* box = window->findChild<QMessageBox*>(QStringLiteral("alert"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    QCoreApplication::processEvents();
    const QStringList second = takeTrace();
    EXPECT_FALSE(second.filter(QStringLiteral("> relay 2")).isEmpty()) << second.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(box->isVisible()); // still up for the operator to read
    box->accept();
}

TEST_F(OperatorWindowTest, LightsFollowTheReaders)
{
    controller->reader(2).raiseReaderDown();
    EXPECT_FALSE(child<QLabel>("ImgVerde2")->isVisible());
    EXPECT_TRUE(child<QLabel>("ImgRojo2")->isVisible());
    controller->reader(2).raiseHotReset();
    EXPECT_TRUE(child<QLabel>("ImgVerde2")->isVisible());
}

TEST_F(OperatorWindowTest, ManualButtonsCloseTheRelays)
{
    QTest::mouseClick(child<QPushButton>("cmdAbrirPuerta1"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("cmdAbrirPuerta2"), Qt::LeftButton);
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> relay 1 0 100"), QStringLiteral("CloseRelay: 0"),
                                        QStringLiteral("> relay 2 0 100"), QStringLiteral("CloseRelay: 0")}));
}

TEST_F(OperatorWindowTest, FreeSpaceBoxTakesDigitsOnly)
{
    auto* box = child<QLineEdit>("text2");
    EXPECT_EQ(box->text(), QStringLiteral("10")) << "the count read at start-up";
    box->setFocus();
    box->clear();
    QTest::keyClicks(box, QStringLiteral("1-2.3,a4"));
    EXPECT_EQ(box->text(), QStringLiteral("1234"));
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), QStringLiteral("123"));
    EXPECT_EQ(window->freeSpacesText(), QStringLiteral("123"));
    box->setText(QString(20, QLatin1Char('9')));
    EXPECT_LE(box->text().size(), 14);
    for (QChar c : QStringLiteral("0123456789"))
        EXPECT_TRUE(OperatorWindow::acceptsFreeSpacesKey(c));
    EXPECT_TRUE(OperatorWindow::acceptsFreeSpacesKey(QChar(8)));
    for (QChar c : QStringLiteral("-.,a "))
        EXPECT_FALSE(OperatorWindow::acceptsFreeSpacesKey(c)) << QString(c).toStdString();
}

// "Actualiza" sets the box's count; a refused one empties the box.
TEST_F(OperatorWindowTest, TheBoxKeepsASetCountAndIsEmptiedWhenOneIsRefused)
{
    auto* box = child<QLineEdit>("text2");
    box->setText(QStringLiteral("5"));
    window->updateSpaces(QStringLiteral("5"));
    EXPECT_EQ(box->text(), QStringLiteral("5"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(), 5);
    window->updateSpaces(QStringLiteral("21")); // above the capacity (20)
    EXPECT_EQ(box->text(), QString());
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT PLAZAS_LIBRES FROM INSTALACIONES")).toInt(), 5);
}

// The window's log, counted as lines with their line ends, is emptied when
// a line arrives while it holds more than 5000 characters.
TEST_F(OperatorWindowTest, TheLogEmptiesOnlyPastFiveThousandCharacters)
{
    const auto held = [&] {
        qsizetype n = 0;
        for (const QString& line : window->logText().split(QLatin1Char('\n')))
            n += line.size() + 2;
        return n;
    };
    controller->log().write(QString(OperatorWindow::LogLimit - held() - 2, QLatin1Char('x')));
    ASSERT_EQ(held(), OperatorWindow::LogLimit);
    controller->log().write(QStringLiteral("a"));
    EXPECT_EQ(held(), OperatorWindow::LogLimit + 3) << "at the limit, a line is added";
    controller->log().write(QStringLiteral("b"));
    EXPECT_EQ(window->logText(), QStringLiteral("b")) << "past it, the next line stands alone";
    controller->log().write(QString(OperatorWindow::LogLimit + 1 - held() - 2, QLatin1Char('y')));
    ASSERT_EQ(held(), OperatorWindow::LogLimit + 1);
    controller->log().write(QStringLiteral("next"));
    EXPECT_EQ(window->logText(), QStringLiteral("next"));
}

TEST_F(OperatorWindowTest, CloseBoxDoesWhatSalirDoes)
{
    window->close();
    EXPECT_EQ(takeTrace(), (QStringList{QStringLiteral("> closeport 1"), QStringLiteral("> closeport 2")}));
}

TEST_F(OperatorWindowTest, ProgressWindowComesFreshForEachOutage)
{
    // Up while a reconnection runs after one has failed, gone once the
    // database answers, and a fresh one for the next outage.
    window->databaseStateChanged(DatabaseState::NotAnswering, {});
    EXPECT_EQ(window->progressWindow(), nullptr);
    window->databaseStateChanged(DatabaseState::Reconnecting, {});
    ASSERT_NE(window->progressWindow(), nullptr);
    window->progressWindow()->step();
    EXPECT_EQ(window->progressWindow()->steps(), 1);
    EXPECT_EQ(window->progressWindow()->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("Intentando conectar"));
    window->databaseStateChanged(DatabaseState::Answering, {});
    EXPECT_EQ(window->progressWindow(), nullptr);
    window->databaseStateChanged(DatabaseState::Reconnecting, {});
    EXPECT_EQ(window->progressWindow()->steps(), 0);
    for (int i = 0; i < 101; ++i)
        window->progressWindow()->step();
    EXPECT_EQ(window->progressWindow()->steps(), 0); // 1..100, then 0 again
}

} // namespace
