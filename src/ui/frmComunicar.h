#pragma once
// The operator window: shows what the stations do and forwards the
// operator's clicks and keys to the StationController. It decides nothing.
#include "ProgresoConexionFormulario.h"
#include "ScriptPlayer.h"
#include "StationView.h"

#include <QPointer>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QTableWidget;

namespace parking {

class StationController;

class frmComunicar : public QWidget, public StationView, public OperatorActions {
    Q_OBJECT
public:
    explicit frmComunicar(StationController& controller, QWidget* parent = nullptr);
    ~frmComunicar() override;

    // StationView
    void setLights(int station, bool greenVisible, bool redVisible) override;
    void setPlazasCaption(int freeSpaces) override;
    void setText2(const QString& text) override;
    void logWritten(const QString& line, bool cleared) override;
    void gridReset(int rowCount) override;
    void gridRowWritten(int row, const AccessRow& access, bool red) override;
    void alert(const QString& text, const QString& title, AlertIcon icon) override;
    void beep() override;
    void showProgress() override;
    void hideProgress() override;
    void closeWindow() override;

    // OperatorActions: the script clicks the real buttons.
    void openBarrier(int station) override;
    void updateSpaces(const QString& digits) override;
    void quit() override;

    ProgresoConexionFormulario* progressWindow() const { return progress_; }
    // Message boxes answer themselves (tests, scripted runs).
    void setAlertsAutoClose(bool on) { alertsAutoClose_ = on; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void showTab(int index);

    StationController& controller_;
    QWidget* SSTab1 = nullptr;
    QTabBar* tabs_ = nullptr;
    QWidget* pageAccesos_ = nullptr;
    QWidget* pageEstado_ = nullptr;
    QTableWidget* SGAccesos = nullptr;
    QPlainTextEdit* txt_Ventana = nullptr;
    QPushButton* cmdCerrar = nullptr;
    QPushButton* cmdAbrirPuerta1 = nullptr;
    QPushButton* cmdAbrirPuerta2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* ImgVerde1 = nullptr;
    QLabel* ImgRojo1 = nullptr;
    QLabel* ImgVerde2 = nullptr;
    QLabel* ImgRojo2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lbl_Plazas = nullptr;
    QPushButton* cmd_IniciarPlazas = nullptr;
    QPushButton* cmd_EstablecerPlazas = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* text2 = nullptr;
    QPushButton* cmdActualiza = nullptr;
    QPointer<ProgresoConexionFormulario> progress_;
    bool alertsAutoClose_ = false;
    bool closing_ = false;
};

// Layout units: twips, 15 to a pixel.
QRect twipsRect(int left, int top, int width, int height);

} // namespace parking
