#pragma once
// The installer's check of one reader: parking-station --reader-check
// PORTTEXT [--config FILE] [--pulse]. Opens the port, brings the reader
// online (keys from the configuration's key file; sc=install gives it one),
// prints its identity and what it can do, then for ReadFor prints each read
// as the station would decode it; --pulse also pulses output 0 once.
#include <QString>

#include <chrono>

namespace parking {

// The exit status: 0 when the reader came online.
int runReaderCheck(const QString& portText, const QString& keyFile, bool pulse,
                   std::chrono::seconds readFor = std::chrono::seconds(30));

} // namespace parking
