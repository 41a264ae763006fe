// The link's packet capture, in the osdpcap format of the OSDP
// conformance tool: one JSON object a line, every packet as on the wire.
#include "OsdpLink.h"

#include <ctime>

namespace parking::osdp {

bool OsdpLink::captureTo(const QString& path, bool append)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate) | QIODevice::Text))
        return false;
    capture_ = std::move(file);
    return true;
}

void OsdpLink::capture(bool output, std::span<const std::uint8_t> bytes)
{
    if (!capture_)
        return;
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    QByteArray hex;
    for (std::uint8_t b : bytes)
        hex += ' ' + QByteArray::number(b, 16).rightJustified(2, '0');
    // One JSON object a line, as the conformance tool's osdpcap (version 1).
    capture_->write(QStringLiteral("{ \"timeSec\" : \"%1\", \"timeNano\" : \"%2\", \"io\" : \"%3\", \"data\" : \"%4\", "
                                   "\"osdpTraceVersion\" : \"1\", \"osdpSource\" : \"parking-station\" }\n")
                        .arg(static_cast<qint64>(t.tv_sec))
                        .arg(static_cast<qint64>(t.tv_nsec), 9, 10, QLatin1Char('0'))
                        .arg(output ? QStringLiteral("output") : QStringLiteral("input"), QString::fromLatin1(hex))
                        .toUtf8());
    capture_->flush();
}

} // namespace parking::osdp
