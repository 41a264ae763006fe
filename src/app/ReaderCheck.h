#pragma once
// The installer's check and toolkit for one reader:
//   parking-station --reader-check PORTTEXT [--config FILE] [--pulse] [--rekey]
//                   [--set-address N] [--set-baud B] [--capture FILE]
//                   [--update-firmware FILE [--file-id N]]
// Opens the port, brings the reader online (keys from the configuration's
// key file; sc=install gives a reader without a stored key one; --rekey
// gives it a new one on purpose), prints its identity, what it can do, its
// tamper, power and inputs, then for ReadFor prints each read as the
// station would decode it; --pulse also pulses output 0 once.
// --set-address/--set-baud send osdp_COMSET, then reach the reader at the
// new setting and say so (the stored key follows the address). --capture
// writes every packet both ways in the osdpcap format. --update-firmware
// sends FILE with osdp_FILETRANSFER (file type N, 1 unless given), showing
// its progress, and prints the firmware version before and after
// (FirmwareUpdate.h).
#include "Result.h"

#include <QString>

#include <chrono>
#include <optional>

namespace parking {

struct ReaderCheckOptions {
    QString portText;
    QString keyFile;
    bool pulse = false;
    bool rekey = false;
    std::optional<int> newAddress;
    std::optional<int> newBaud;
    QString capture; // empty: none
    QString firmware; // --update-firmware's file; empty: none
    int fileId = 1;
    std::chrono::seconds readFor{30};
};

// `base` with --set-address, --set-baud and --file-id's words (empty: not
// given), read strictly; the fault otherwise.
Result<ReaderCheckOptions> readerCheckOptions(ReaderCheckOptions base, const QString& setAddress, const QString& setBaud,
                                              const QString& fileId = {});

// The exit status: 0 when the reader came online (and took the new
// setting); 2 a bad port text or option, 3 the line cannot be opened, 4 the
// reader did not come online, 5 it does not answer at the new setting,
// 6 the file was refused, aborted or not answered (the reader's reason
// said), 7 the file cannot be read.
int runReaderCheck(const ReaderCheckOptions& options);

} // namespace parking
