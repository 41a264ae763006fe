#include "RemoteConsole.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace parking {

namespace {

QByteArray actionName(const QByteArray& path)
{
    return path == "/api/open" ? QByteArrayLiteral("open") : QByteArrayLiteral("spaces");
}

// The body's object, or why it is not one.
std::optional<QJsonObject> jsonObject(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// A JSON count as the text the window's box would hold: whole numbers as
// digits, anything else as written, so the box's rules judge it.
std::optional<QString> countText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::isfinite(number) && number == std::trunc(number) && std::abs(number) < 1e15)
        return QString::number(static_cast<qint64>(number));
    return QString::number(number);
}

ConsoleGuard::Answer done(const ConsoleActions::Outcome& outcome, QJsonObject body)
{
    body.insert(QStringLiteral("done"), true);
    if (outcome.freeSpaces)
        body.insert(QStringLiteral("freeSpaces"), *outcome.freeSpaces);
    return {200, QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

} // namespace

ConsoleGuard::Answer refusal(int status, const QString& reason)
{
    const QJsonObject body{{QStringLiteral("done"), false}, {QStringLiteral("reason"), reason}};
    return {status, QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

ConsoleGuard::Answer RemoteConsole::counted(const QByteArray& action, const QByteArray& outcome,
                                            ConsoleGuard::Answer answer, const QString& operatorName)
{
    ++counts_[{action, outcome, operatorName}];
    return answer;
}

ConsoleGuard::Answer RemoteConsole::refuse(const QByteArray& path, int status, const QString& reason)
{
    return counted(actionName(path), status == 401 ? "unauthorized" : "forbidden", refusal(status, reason));
}

ConsoleGuard::Answer RemoteConsole::handle(const ConsoleRequest& request, ConsoleGuard::Time now)
{
    const QByteArray action = actionName(request.path);
    const QByteArray type = request.contentType.split(';').value(0).trimmed().toLower();
    if (type != "application/json")
        return counted(action, "bad_request", refusal(415, QStringLiteral("the body must be application/json")), request.operatorName);
    if (request.idempotencyKey.size() > ConsoleGuard::MaxKeyLength)
        return counted(action, "bad_request", refusal(400, QStringLiteral("Idempotency-Key is too long")), request.operatorName);
    if (!request.idempotencyKey.isEmpty()) {
        if (auto earlier = guard_.earlierAnswer(request.idempotencyKey, now))
            return counted(action, "repeated", *earlier, request.operatorName);
    }
    const auto [answer, reached] = act(action, request, now);
    // Only what reached the stations is remembered: a request refused for
    // its form or its rate may be sent again and go through.
    if (!request.idempotencyKey.isEmpty() && reached)
        guard_.remember(request.idempotencyKey, answer, now);
    return answer;
}

std::pair<ConsoleGuard::Answer, bool> RemoteConsole::act(const QByteArray& action, const ConsoleRequest& request,
                                                         ConsoleGuard::Time now)
{
    const auto object = jsonObject(request.body);
    if (!object)
        return {counted(action, "bad_request", refusal(400, QStringLiteral("the body is not a JSON object")), request.operatorName), false};
    std::optional<StationRole> station;
    std::optional<QString> value;
    if (action == "open") {
        const QJsonValue given = object->value(QStringLiteral("station"));
        if (given.isDouble() && given.toDouble() == given.toInt())
            station = strictRoleOf(given.toInt());
        if (!station)
            return {counted(action, "bad_request", refusal(400, QStringLiteral("\"station\" must be 1 or 2")), request.operatorName), false};
    } else {
        value = countText(object->value(QStringLiteral("value")));
        if (!value)
            return {counted(action, "bad_request", refusal(400, QStringLiteral("\"value\" must be a whole number")), request.operatorName), false};
    }
    if (!guard_.allow(station, now)) {
        actions_.note(QStringLiteral("Consola remota: demasiadas peticiones, no se atiende (desde %1)").arg(request.from));
        return {counted(action, "rate_limited", refusal(429, QStringLiteral("too many actions; wait and try again")), request.operatorName), false};
    }
    const ConsoleActions::Outcome outcome =
        station ? actions_.openBarrier(*station, request.from, request.operatorName)
                : actions_.setFreeSpaces(*value, request.from, request.operatorName);
    // A count the box's rules refuse is the request's fault; a barrier that
    // cannot open now is the stations' state.
    if (!outcome.done)
        return {counted(action, "refused", refusal(station ? 409 : 400, outcome.reason), request.operatorName), true};
    QJsonObject body;
    if (station)
        body.insert(QStringLiteral("station"), stationNumber(*station));
    return {counted(action, "done", done(outcome, body), request.operatorName), true};
}

QByteArray RemoteConsole::metrics() const
{
    QByteArray out = "# HELP parking_remote_actions_total Actions asked of the remote console, by outcome.\n"
                     "# TYPE parking_remote_actions_total counter\n";
    for (const auto& [labels, count] : counts_) {
        const auto& [action, outcome, operatorName] = labels;
        // Names come from the configuration: no quote, backslash or line
        // break to escape but in principle; escaped all the same.
        QByteArray name = operatorName.toUtf8();
        name.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
        out += "parking_remote_actions_total{action=\"" + action + "\",outcome=\"" + outcome + "\"" +
               (name.isEmpty() ? QByteArray() : ",operator=\"" + name + "\"") + "} " + QByteArray::number(count) + "\n";
    }
    return out;
}

} // namespace parking
