#include "WidgetConnectionUi.h"

#include "Database.h"
#include "ProgresoConexionFormulario.h"

#include <QMessageBox>

namespace parking {

WidgetConnectionUi::WidgetConnectionUi(std::function<void(const QString&)> report)
    : report_(std::move(report))
{
}

WidgetConnectionUi::~WidgetConnectionUi()
{
    delete progress_;
}

void WidgetConnectionUi::showFatal(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
    box.exec();
}

void WidgetConnectionUi::showProgress()
{
    // Each outage gets a fresh window, its bar from the start.
    delete progress_;
    progress_ = new ProgresoConexionFormulario;
    progress_->show();
}

void WidgetConnectionUi::hideProgress()
{
    delete progress_;
}

void WidgetConnectionUi::reportFailure(const QString& what)
{
    if (report_)
        report_(what);
}

void WidgetConnectionUi::pumpEvents(std::chrono::milliseconds wait)
{
    pumpQtEvents(wait);
}

} // namespace parking
