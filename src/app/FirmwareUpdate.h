#pragma once
// --reader-check PORTTEXT --update-firmware FILE [--file-id N]: the file
// sent to the reader online on `link` (its reader 0) with
// osdp_FILETRANSFER, plain or under the Secure Channel the reader is on,
// following osdp_FTSTAT (FileSender); a fragment whose answer was lost is
// sent again once the reader answers again. Progress in percent and bytes
// on standard output; the firmware version read with osdp_ID before and
// after.
#include "osdp/OsdpLink.h"

#include <QString>

namespace parking {

// 0 when the reader took the file; 6 when it refused or aborted it, or
// stopped answering (its reason said); 7 when FILE cannot be read.
int updateFirmware(osdp::OsdpLink& link, const QString& file, int fileId);

} // namespace parking
