#pragma once
// The small window shown while the database is out of reach. Its bar moves
// one step every half second to show the program is still trying; it
// measures nothing.
#include <QWidget>

class QLabel;
class QProgressBar;
class QTimer;

namespace parking {

class ProgresoConexionFormulario : public QWidget {
    Q_OBJECT
public:
    explicit ProgresoConexionFormulario(QWidget* parent = nullptr);

    int Contador() const { return Contador_; }

public slots:
    void Timer1_Timer();

private:
    QLabel* Label1;
    QProgressBar* BarraProgreso;
    QTimer* Timer1;
    int Contador_ = 0;
};

} // namespace parking
