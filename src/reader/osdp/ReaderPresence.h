#pragma once
// Whether a reader counts as online. Only a reply that passed every check
// (address, sequence, CRC, and the MAC while the channel is up) shows that
// a reader is there: it is online from the first such reply after a
// handshake, and offline after `offlineAfter` without one, whatever else
// it sends. It also remembers the tamper, power and input states last
// reported, so that only changes are said.
#include "OsdpBusEvents.h"

#include <optional>

namespace parking::osdp {

class ReaderPresence {
public:
    ReaderPresence(TimePoint since, std::chrono::milliseconds offlineAfter);

    bool up() const { return up_; }

    enum class Proof { Nothing, CameOnline, Restarted };
    // A reply passed every check: the first since a handshake brings the
    // reader online, or says it restarted if it was online already.
    Proof proven(TimePoint now);
    // A handshake began: the next proof is the first.
    void handshakeStarted() { proven_ = false; }
    // Whether it has been silent too long: since its last proof while up,
    // since it was added while never said to be up or down.
    bool silent(TimePoint now) const;
    // When silent() turns true (nothing when it cannot).
    std::optional<TimePoint> silentFrom() const;
    void wentOffline();

    // True when the state differs from the one last reported (and keeps it).
    bool statusChanged(const LocalStatus& status);
    bool inputsChanged(const Bytes& states);

private:
    TimePoint since_;
    std::chrono::milliseconds offlineAfter_;
    TimePoint lastProof_{};
    bool up_ = false;
    bool reported_ = false; // said to be online or offline
    bool proven_ = false;   // since the last handshake
    std::optional<LocalStatus> status_;
    std::optional<Bytes> inputs_;
};

} // namespace parking::osdp
