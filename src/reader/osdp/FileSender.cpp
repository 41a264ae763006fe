#include "FileSender.h"

#include <algorithm>

namespace parking::osdp {

QString fileRefusalReason(std::int16_t status)
{
    switch (status) {
    case -1:
        return QStringLiteral("el lector ha abortado la transferencia (abort)");
    case -2:
        return QStringLiteral("el lector no reconoce el contenido del fichero (rejected)");
    case -3:
        return QStringLiteral("el lector no acepta los datos del fichero (datos no válidos)");
    default:
        return QStringLiteral("el lector rechaza el fichero (estado %1)").arg(status);
    }
}

FileSender::FileSender(std::uint8_t type, Bytes file, int receiveSize)
    : type_(type), file_(std::move(file)),
      fragment_(std::clamp((receiveSize > 0 ? receiveSize : DefaultReceiveSize) - Overhead, ShortestFragment, LongestFragment))
{
}

FileTransferCommand FileSender::next() const
{
    const std::uint32_t length = std::min<std::uint32_t>(static_cast<std::uint32_t>(fragment_), size() - offset_);
    FileTransferCommand c{type_, size(), offset_, {}};
    c.fragment.assign(file_.begin() + offset_, file_.begin() + offset_ + length);
    return c;
}

FileSender::Step FileSender::answered(const FileTransferStatusReply& status)
{
    if (status.status < 0)
        return {Step::Kind::Refused, {}, false, fileRefusalReason(status.status)};
    offset_ += static_cast<std::uint32_t>(next().fragment.size());
    if (status.updateMax > 0)
        fragment_ = std::clamp<int>(status.updateMax, 1, fragment_);
    const std::chrono::milliseconds wait(status.delayMs);
    if (offset_ < size())
        return {Step::Kind::Send, wait, false, {}};
    // The whole file is in: processed (1), or restarting to apply it (2);
    // anything else (finishing, 3) is asked again with an empty fragment.
    if (status.status == 1 || status.status == 2)
        return {Step::Kind::Done, wait, status.status == 2, {}};
    if (++finishing_ > FinishingLimit)
        return {Step::Kind::Refused, {}, false, QStringLiteral("el lector no termina de procesar el fichero")};
    return {Step::Kind::Send, wait, false, {}};
}

FileSender::Step FileSender::refused(const FileTransferRefused& refusal)
{
    if (refusal.tooLongFor > 0) {
        // Our estimate of the room the packet takes was short: smaller fragments.
        const int fits = refusal.tooLongFor - Overhead;
        if (fits >= 1 && fits < fragment_) {
            fragment_ = fits;
            return {Step::Kind::Send, {}, false, {}};
        }
        return {Step::Kind::Refused, {}, false,
                QStringLiteral("el lector sólo admite órdenes de %1 bytes: no cabe ningún fragmento").arg(refusal.tooLongFor)};
    }
    return {Step::Kind::Refused, {}, false, QStringLiteral("el lector rechaza el fragmento (NAK %1)").arg(int(refusal.nak))};
}

} // namespace parking::osdp
