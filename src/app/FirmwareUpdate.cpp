#include "FirmwareUpdate.h"

#include "osdp/FileSender.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <mutex>

namespace parking {

namespace {

using namespace std::chrono_literals;
using osdp::BusEvent;

constexpr qint64 LargestFile = 16 * 1024 * 1024;
// How long one fragment's answer, the identity and a restart are waited for.
constexpr std::chrono::milliseconds AnswerWait = 10s;
constexpr std::chrono::milliseconds RestartWait = 60s;
// Fragments lost in a row (each after the line's own repeats) before giving up.
constexpr int LostLimit = 5;

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString version(std::uint32_t firmware)
{
    return QStringLiteral("%1.%2.%3").arg(firmware >> 16).arg(firmware >> 8 & 0xFF).arg(firmware & 0xFF);
}

// The events of reader 0, handed from the link's thread to this one.
class Answers {
public:
    explicit Answers(osdp::OsdpLink& link) : link_(link)
    {
        link_.setObserver([this](const BusEvent& e) {
            if (e.reader != 0)
                return;
            std::lock_guard lock(mutex_);
            events_.push_back(e);
        });
    }
    ~Answers() { link_.setObserver({}); }
    Answers(const Answers&) = delete;
    Answers& operator=(const Answers&) = delete;

    // The next event `wanted` accepts, within `limit`; the event loop runs
    // meanwhile (the reader's log lines are printed).
    template <typename Wanted>
    std::optional<BusEvent> next(std::chrono::milliseconds limit, Wanted wanted)
    {
        for (std::chrono::milliseconds waited{0}; waited <= limit; waited += 10ms) {
            {
                std::lock_guard lock(mutex_);
                while (!events_.empty()) {
                    BusEvent e = std::move(events_.front());
                    events_.pop_front();
                    if (wanted(e))
                        return e;
                }
            }
            QEventLoop loop;
            QTimer::singleShot(10ms, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return std::nullopt;
    }

private:
    osdp::OsdpLink& link_;
    std::mutex mutex_;
    std::deque<BusEvent> events_;
};

// The reader's identity: asked with osdp_ID, or, after a restart, as it
// came online again.
std::optional<osdp::Identity> identity(osdp::OsdpLink& link, Answers& answers, bool restarting)
{
    if (restarting) {
        const auto back = answers.next(RestartWait, [](const BusEvent& e) { return e.as<osdp::ReaderOnline>() != nullptr; });
        if (back)
            return back->as<osdp::ReaderOnline>()->identity;
        return std::nullopt;
    }
    if (!link.submit(0, osdp::IdRequest{}))
        return std::nullopt;
    const auto read = answers.next(AnswerWait, [](const BusEvent& e) { return e.as<osdp::IdentityRead>() != nullptr; });
    return read ? std::optional(read->as<osdp::IdentityRead>()->identity) : std::nullopt;
}

} // namespace

int updateFirmware(osdp::OsdpLink& link, const QString& path, int fileId)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        say(QStringLiteral("No se puede leer el fichero %1: %2").arg(path, file.errorString()));
        return 7;
    }
    if (file.size() <= 0 || file.size() > LargestFile) {
        say(QStringLiteral("El fichero %1 tiene %2 bytes: debe tener de 1 a %3").arg(path).arg(file.size()).arg(LargestFile));
        return 7;
    }
    const QByteArray bytes = file.readAll();
    Answers answers(link);
    const auto before = identity(link, answers, false);
    say(QStringLiteral("Firmware antes: %1").arg(before ? version(before->firmware) : QStringLiteral("desconocido")));

    osdp::FileSender sender(static_cast<std::uint8_t>(fileId), osdp::Bytes(bytes.begin(), bytes.end()),
                            link.capabilities(0).receiveSize);
    say(QStringLiteral("Enviando %1 (%2 bytes, tipo %3) en fragmentos de hasta %4 bytes")
            .arg(path)
            .arg(sender.size())
            .arg(fileId)
            .arg(sender.fragmentSize()));
    auto gaveUp = [&] {
        say(QStringLiteral("El lector no responde: transferencia interrumpida en %1 de %2 bytes")
                .arg(sender.sent())
                .arg(sender.size()));
        return 6;
    };
    int lost = 0;
    int shownPercent = -1;
    for (;;) {
        if (!link.submit(0, sender.next())) {
            // Offline (a lost answer starts the channel over): sent again once back.
            if (++lost > LostLimit || !link.waitOnline(0, RestartWait))
                return gaveUp();
            continue;
        }
        const auto answer = answers.next(AnswerWait, [](const BusEvent& e) {
            return e.as<osdp::FileTransferAnswered>() || e.as<osdp::FileTransferRefused>() ||
                   e.as<osdp::FileTransferUnanswered>() || e.as<osdp::ReaderOffline>();
        });
        if (!answer || answer->as<osdp::FileTransferUnanswered>() || answer->as<osdp::ReaderOffline>()) {
            if (++lost > LostLimit)
                return gaveUp();
            say(QStringLiteral("Sin respuesta al fragmento de %1: se envía de nuevo").arg(sender.sent()));
            link.waitOnline(0, RestartWait);
            continue;
        }
        lost = 0;
        const osdp::FileSender::Step step = answer->as<osdp::FileTransferAnswered>()
                                                ? sender.answered(answer->as<osdp::FileTransferAnswered>()->status)
                                                : sender.refused(*answer->as<osdp::FileTransferRefused>());
        const int percent = static_cast<int>(100 * static_cast<qint64>(sender.sent()) / sender.size());
        if (percent != shownPercent) {
            say(QStringLiteral("%1 % (%2 de %3 bytes)").arg(percent).arg(sender.sent()).arg(sender.size()));
            shownPercent = percent;
        }
        if (step.kind == osdp::FileSender::Step::Kind::Refused) {
            say(QStringLiteral("El lector no acepta el fichero: %1").arg(step.reason));
            return 6;
        }
        if (step.wait.count() > 0)
            answers.next(step.wait, [](const BusEvent&) { return false; });
        if (step.kind == osdp::FileSender::Step::Kind::Done) {
            say(step.restarting ? QStringLiteral("Fichero enviado; el lector se reinicia para aplicarlo")
                                : QStringLiteral("Fichero enviado y procesado por el lector"));
            const auto after = identity(link, answers, step.restarting);
            say(QStringLiteral("Firmware: antes %1, después %2")
                    .arg(before ? version(before->firmware) : QStringLiteral("desconocido"),
                         after ? version(after->firmware) : QStringLiteral("desconocido")));
            return 0;
        }
    }
}

} // namespace parking
