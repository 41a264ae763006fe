#pragma once
// The installer's check and toolkit for one reader:
//   parking-station --reader-check PORTTEXT [--config FILE] [--pulse] [--rekey]
//                   [--set-address N] [--set-baud B] [--capture FILE]
// Opens the port, brings the reader online (keys from the configuration's
// key file; sc=install gives a reader without a stored key one; --rekey
// gives it a new one on purpose), prints its identity, what it can do, its
// tamper, power and inputs, then for ReadFor prints each read as the
// station would decode it; --pulse also pulses output 0 once.
// --set-address/--set-baud send osdp_COMSET, then reach the reader at the
// new setting and say so (the stored key follows the address). --capture
// writes every packet both ways in the osdpcap format.
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
    std::chrono::seconds readFor{30};
};

// `base` with --set-address and --set-baud's words (empty: not given),
// read strictly; the fault otherwise.
Result<ReaderCheckOptions> readerCheckOptions(ReaderCheckOptions base, const QString& setAddress, const QString& setBaud);

// The exit status: 0 when the reader came online (and took the new
// setting); 2 a bad port text or option, 3 the line cannot be opened, 4 the
// reader did not come online, 5 it does not answer at the new setting.
int runReaderCheck(const ReaderCheckOptions& options);

} // namespace parking
