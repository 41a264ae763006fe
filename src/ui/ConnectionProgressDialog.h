#pragma once
// The small window shown while the database is out of reach. Its bar moves
// one step every half second to show the program is still trying; it
// measures nothing.
#include <QWidget>

class QLabel;
class QProgressBar;
class QTimer;

namespace parking {

class ConnectionProgressDialog : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionProgressDialog(QWidget* parent = nullptr);

    static constexpr int StepMs = 500;

    int steps() const { return steps_; }
    // One step of the bar (its timer's tick); past 100 it starts again.
    void step();

private:
    QLabel* caption_;
    QProgressBar* bar_;
    QTimer* timer_;
    int steps_ = 0;
};

} // namespace parking
