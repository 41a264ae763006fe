#include "EventLog.h"

#include "StationView.h"

#include <new>

namespace parking {

EventLog::EventLog(QString logFolder, const Clock& clock) : clock_(clock), file_(std::move(logFolder)) {}

void EventLog::write(const QString& line)
{
    const bool cleared = text_.size() > WindowLimit;
    if (cleared)
        text_.clear();
    text_ += line + QStringLiteral("\r\n");
    file_.append(clock_.now(), line);
    trace(line);
    if (view_)
        view_->logWritten(line, cleared);
}

void EventLog::trace(const QString& line)
{
    if (traceSink_)
        traceSink_(line);
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
