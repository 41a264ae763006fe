#pragma once
// The port text of an OSDP reader, as installers write it in the Lector row:
//   osdp:DEVICE[?OPTION&OPTION...]
// DEVICE is a serial device path or tcp:HOST:PORT; the options are
// addr=0..126, baud=9600|19200|38400|57600|115200|230400, sc=on|install|off,
// display=ROWSxCOLS, fmt=raw|wiegand26|wiegand34|wiegand37|csn (how raw
// card bits become a card number), led=on|off and buzzer=on|off (the
// reader's feedback), rs485=on|off (the kernel's RS-485 mode of a built-in
// UART).
#include "CardFormat.h"
#include "OsdpBus.h"
#include "Result.h"

#include <QString>

namespace parking::osdp {

struct PortText {
    QString device; // as written: the path, or "tcp:HOST:PORT"
    QString host;   // for TCP
    quint16 tcpPort = 0;
    std::uint8_t address = 0;
    qint32 baud = 9600;
    ChannelMode channel = ChannelMode::On;
    int rows = 2;
    int columns = 20;
    CardFormat format = CardFormat::Raw;
    bool led = true;
    bool buzzer = true;
    bool rs485 = false;
    bool tcp() const { return !host.isEmpty(); }
};

// The port text's parts, or the fault that makes it unusable.
Result<PortText> parsePortText(const QString& text);

} // namespace parking::osdp
