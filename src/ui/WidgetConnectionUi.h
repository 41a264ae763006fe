#pragma once
// The connection routines' side of the windows: the stop-icon message box
// and the connection progress window.
#include "ConnectionUi.h"
#include "ProgresoConexionFormulario.h"

#include <QPointer>

#include <functional>

namespace parking {


class WidgetConnectionUi final : public ConnectionUi {
public:
    // `report` receives failure reports (the event log).
    explicit WidgetConnectionUi(std::function<void(const QString&)> report);
    ~WidgetConnectionUi() override;

    void showFatal(const QString& text, const QString& title) override;
    void showProgress() override;
    void hideProgress() override;
    void reportFailure(const QString& what) override;
    void pumpEvents(std::chrono::milliseconds wait) override;

    ProgresoConexionFormulario* progressWindow() const { return progress_; }

private:
    std::function<void(const QString&)> report_;
    QPointer<ProgresoConexionFormulario> progress_;
};

} // namespace parking
