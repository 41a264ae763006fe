#include "EventLog.h"

#include "StationEvents.h"

#include <new>

namespace parking {

EventLog::EventLog(QString logFolder, const Clock& clock, StationEvents& outputs)
    : clock_(clock), file_(std::move(logFolder)), outputs_(outputs)
{
}

void EventLog::write(const QString& line)
{
    const bool filed = file_.append(clock_.now(), line);
    outputs_.logWritten(line);
    if (filed != fileFailing_)
        return;
    // Said once when the file stops taking lines and once when it takes
    // them again: the window and the trace still have every line.
    fileFailing_ = !filed;
    const QString news = fileFailing_
                             ? QStringLiteral("ERROR: no se puede escribir el fichero de registro en %1; las líneas "
                                              "siguen solo en pantalla")
                                   .arg(file_.folder())
                             : QStringLiteral("El fichero de registro en %1 vuelve a escribirse").arg(file_.folder());
    outputs_.logWritten(news);
    if (!fileFailing_)
        file_.append(clock_.now(), news);
}

bool EventLog::guard(const QString& where, const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        write(QStringLiteral("ERROR en %1: %2").arg(where, QString::fromUtf8(e.what())));
        return false;
    }
}

} // namespace parking
