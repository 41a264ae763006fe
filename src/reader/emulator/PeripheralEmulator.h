#pragma once
// An OSDP peripheral device (a reader) in software, for tests, the
// benchmark and the demo; never part of the controller. It answers POLL,
// ID, CAP, LSTAT, OUT, LED, BUZ, TEXT, KEYSET and the Secure Channel
// handshake, keeps what it was told to show, and hands out the reads it
// was given at the next poll. It can go silent, answer NAK, or restart
// (sequence and channel lost, as after a power cut).
#include "OsdpBus.h"
#include "OsdpCodec.h"
#include "SecureChannel.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace parking::osdp {

struct RelayCommand {
    std::uint8_t output = 0;
    std::uint8_t control = 0;
    int tenths = 0;
};

class PeripheralEmulator {
public:
    explicit PeripheralEmulator(std::uint8_t address, int rows = 2, int columns = 20);

    std::uint8_t address() const { return address_; }
    // The reply to a command addressed to it, or nothing (silent, or not
    // for this reader).
    std::optional<Bytes> handle(const Decoded& command);

    // What the reader will report at its next polls.
    void presentRawCard(int bits, Bytes data);
    // A card number as a 44-bit raw read.
    void presentCardNumber(std::uint64_t number);
    void presentFormattedCard(const QString& text);
    void pressKeys(const QString& digits);

    void setSilent(bool silent) { silent_ = silent; }
    bool silent() const { return silent_; }
    // Answer the next `count` commands with NAK `code`.
    void nakNext(int count, std::uint8_t code) { nakCount_ = count, nakCode_ = code; }
    // Back to sequence 0 with no channel, as after a power cut.
    void restart();
    // The key the reader holds (none: only the install key).
    void setKey(std::optional<Block> key) { key_ = key; }
    const std::optional<Block>& key() const { return key_; }
    void setCapabilities(const Capabilities& c) { capabilities_ = c; }

    const QStringList& display() const { return display_; }
    std::uint8_t ledColour() const { return ledColour_; }
    const std::vector<RelayCommand>& relays() const { return relays_; }
    bool secure() const { return session_.has_value(); }
    int commandsSeen(std::uint8_t code) const;

private:
    std::optional<Packet> answer(const Packet& command, bool secureCommand);
    Packet challenge(const Packet& command);
    Packet serverCryptogram(const Packet& command);
    Packet pollReply();
    Packet plain(std::uint8_t code, Bytes data = {});
    Packet nak(std::uint8_t code);

    std::uint8_t address_;
    int rows_;
    int columns_;
    Capabilities capabilities_{true, true, true, true};
    std::optional<Block> key_;
    std::optional<SessionKeys> pending_;
    Random cpRandom_{};
    Random pdRandom_{};
    std::optional<SecureSession> session_;
    std::optional<std::uint8_t> lastSequence_;
    Bytes lastReply_;
    std::deque<Packet> reads_;
    QStringList display_;
    std::uint8_t ledColour_ = 0;
    std::vector<RelayCommand> relays_;
    std::vector<int> seen_ = std::vector<int>(256, 0);
    bool silent_ = false;
    int nakCount_ = 0;
    std::uint8_t nakCode_ = 0;
};

} // namespace parking::osdp
