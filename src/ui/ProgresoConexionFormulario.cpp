#include "ProgresoConexionFormulario.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

namespace parking {

namespace {
// Layout in twips, 15 to a pixel.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}
} // namespace

ProgresoConexionFormulario::ProgresoConexionFormulario(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ProgresoConexionFormulario"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(4680 / 15, 1260 / 15);
    Label1 = new QLabel(QStringLiteral("Intentando conectar"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(1560, 120, 1695, 255));
    BarraProgreso = new QProgressBar(this);
    BarraProgreso->setObjectName(QStringLiteral("BarraProgreso"));
    BarraProgreso->setRange(0, 100);
    BarraProgreso->setValue(0);
    BarraProgreso->setTextVisible(false);
    BarraProgreso->setGeometry(twips(480, 600, 3615, 375));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &ProgresoConexionFormulario::Timer1_Timer);
    Timer1->start();
}

void ProgresoConexionFormulario::Timer1_Timer()
{
    ++Contador_;
    if (Contador_ > 100)
        Contador_ = 0;
    BarraProgreso->setValue(Contador_);
}

} // namespace parking
