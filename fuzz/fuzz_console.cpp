// The remote console's request handling: any path, content type, retry key
// and body. Nothing reaches the stations unless the body is a JSON object
// naming a known station or carrying a value; a retried key never acts
// twice; every answer is JSON with a status the console documents.
#include "FuzzSupport.h"
#include "RemoteConsole.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace parking;
using namespace parking::fuzz;

namespace {

class Counted final : public ConsoleActions {
public:
    Outcome openBarrier(StationRole station, const QString&, const QString&) override
    {
        require(station == StationRole::Entrance || station == StationRole::Exit,
                "an opening of a station that does not exist");
        ++calls;
        return {true, {}, std::nullopt};
    }
    Outcome setFreeSpaces(const QString&, const QString&, const QString&) override
    {
        ++calls;
        return {false, QStringLiteral("refused"), std::nullopt};
    }
    void note(const QString&) override {}
    int calls = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Fields separated by 0xFF: content type, idempotency key, body; the
    // first byte picks the path and how far apart in time two sends are.
    if (size < 1)
        return 0;
    const QList<QByteArray> fields = bytes(data + 1, size - 1).split('\xff');
    ConsoleRequest request;
    request.path = (data[0] & 1) ? QByteArrayLiteral("/api/open") : QByteArrayLiteral("/api/spaces");
    request.contentType = fields.value(0);
    request.idempotencyKey = fields.value(1);
    request.body = fields.value(2);
    request.from = QStringLiteral("192.0.2.1");
    Counted actions;
    RemoteConsole console(actions);
    const ConsoleGuard::Time t0{};
    const auto first = console.handle(request, t0);
    const auto again = console.handle(request, t0 + std::chrono::seconds(data[0] >> 1));
    for (const auto& answer : {first, again}) {
        require(answer.status == 200 || answer.status == 400 || answer.status == 409 || answer.status == 415 ||
                    answer.status == 429,
                "an answer outside the documented statuses");
        require(QJsonDocument::fromJson(answer.body).isObject(), "an answer that is not a JSON object");
    }
    if (actions.calls > 0) {
        const QJsonDocument body = QJsonDocument::fromJson(request.body);
        require(body.isObject(), "an action from a body that is not a JSON object");
    }
    if (!request.idempotencyKey.isEmpty() && request.idempotencyKey.size() <= ConsoleGuard::MaxKeyLength &&
        (data[0] >> 1) < 60)
        require(actions.calls <= 1, "a retried request acted twice");
    return 0;
}
