#include "ConnectionProgressDialog.h"

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

ConnectionProgressDialog::ConnectionProgressDialog(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ConnectionProgressDialog"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(4680 / 15, 1260 / 15);
    caption_ = new QLabel(QStringLiteral("Intentando conectar"), this);
    caption_->setObjectName(QStringLiteral("Label1"));
    caption_->setGeometry(twips(1560, 120, 1695, 255));
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("BarraProgreso"));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setGeometry(twips(480, 600, 3615, 375));
    timer_ = new QTimer(this);
    timer_->setInterval(StepMs);
    connect(timer_, &QTimer::timeout, this, &ConnectionProgressDialog::step);
    timer_->start();
}

void ConnectionProgressDialog::step()
{
    ++steps_;
    if (steps_ > 100)
        steps_ = 0;
    bar_->setValue(steps_);
}

} // namespace parking
