#pragma once
// An OSDP peripheral device (a reader) in software, for tests, the
// benchmark, the demo and the emulator program; never part of the
// controller. It answers POLL, ID, CAP, LSTAT, ISTAT, OUT, LED, BUZ, TEXT,
// COMSET, KEYSET, ACURXSIZE, FILETRANSFER and the Secure Channel handshake,
// keeps what it
// was told to show, and hands out the reads it was given at the next poll;
// a tamper, power or input change is announced in the reply to the next
// poll. It can also behave as readers in the field do: go silent, answer
// NAK or BUSY, lose replies, restart (sequence, channel and display lost, as
// after a power cut), acknowledge a new key in the clear, refuse the Secure
// Channel, have a small receive buffer, or forge (answer everything with a
// plain NAK).
#include "OsdpMessages.h"
#include "OsdpCodec.h"
#include "SecureChannel.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace parking::osdp {

struct RelayRecord {
    std::uint8_t output = 0;
    std::uint8_t control = 0;
    int tenths = 0;
};

struct LedRecord {
    std::uint8_t colour = 0;
    int tenths = 0; // of the temporary state; 0: a permanent one
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
    // Answer the next `count` commands with a plain BUSY, without acting.
    void busyNext(int count) { busyCount_ = count; }
    // Act on the next `count` commands with this code (any: nullopt) but
    // lose the reply, as a noisy line does; a repeat gets it.
    void loseReplies(int count, std::optional<std::uint8_t> code = std::nullopt) { loseCount_ = count, loseCode_ = code; }
    // Acknowledge osdp_KEYSET in the clear, as some readers do.
    void setPlainKeySetAck(bool plain) { plainKeySetAck_ = plain; }
    // Replies carry their data in the clear under the MAC (SCS_16).
    void setMacOnlyReplies(bool macOnly) { macOnlyReplies_ = macOnly; }
    // Answer every command with a plain NAK (something pretending to be a reader).
    void setForgeNak(bool forge) { forgeNak_ = forge; }
    // Back to sequence 0 with no channel and a blank display, as after a power cut.
    void restart();
    void setTamper(bool tamper);
    void setPowerLost(bool lost);
    void setInput(int input, bool active);
    bool tamper() const { return tamper_; }
    bool powerLost() const { return powerLost_; }
    // The key the reader holds (none: only the install key).
    void setKey(std::optional<Block> key) { key_ = key; }
    const std::optional<Block>& key() const { return key_; }
    // Output, LED, buzzer, text, inputs, the Secure Channel (function 9)
    // and the receive size (function 10) it reports.
    void setCapabilities(const Capabilities& c);
    const Capabilities& capabilities() const { return capabilities_; }
    // The speed osdp_COMSET last set (the line itself is the host's).
    int baud() const { return baud_; }

    const QStringList& display() const { return display_; }
    std::uint8_t ledColour() const { return ledColour_; }
    const std::vector<LedRecord>& leds() const { return leds_; }
    int beeps() const { return beeps_; }
    const std::vector<RelayRecord>& relays() const { return relays_; }
    bool secure() const { return session_.has_value(); }
    int commandsSeen(std::uint8_t code) const;

    // How it takes a file (osdp_FILETRANSFER). `refuse`: the status every
    // fragment is answered with instead (-1 abort, -2 contents not
    // recognised, -3 data not acceptable; 0: taken); `abortAt`: abort once
    // this many bytes are in; `delayMs` asked before each next fragment;
    // `fragmentMax` the longest fragment it wants (0: as the controller
    // likes); `finishing` answers of "finishing" (3) before "processed" (1).
    // A file taken whole raises the firmware's build number by one.
    struct FileBehaviour {
        std::int16_t refuse = 0;
        std::optional<std::uint32_t> abortAt;
        std::uint16_t delayMs = 0;
        std::uint16_t fragmentMax = 0;
        int finishing = 0;
    };
    void setFileBehaviour(const FileBehaviour& b) { fileBehaviour_ = b; }
    // The last file taken whole, and its type; the fragments seen.
    const Bytes& receivedFile() const { return receivedFile_; }
    std::uint8_t receivedFileType() const { return fileType_; }
    // major << 16 | minor << 8 | build, as its osdp_PDID says.
    std::uint32_t firmware() const { return identity_[9] << 16 | identity_[10] << 8 | identity_[11]; }

private:
    std::optional<Packet> answer(const Packet& command, bool secureCommand);
    Packet challenge(const Packet& command);
    Packet serverCryptogram(const Packet& command);
    Packet pollReply();
    Packet capabilitiesReply() const;
    Packet comSet(const Packet& command);
    Packet fileTransfer(const Bytes& d);
    Packet plain(std::uint8_t code, Bytes data = {}) const;
    Packet nak(std::uint8_t code) const;
    std::optional<Bytes> plainReply(const Packet& command, Packet reply);

    std::uint8_t address_;
    std::optional<std::uint8_t> nextAddress_;
    int rows_;
    int columns_;
    int baud_ = 9600;
    Capabilities capabilities_{true, true, true, true, 1, true, 0};
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
    std::vector<LedRecord> leds_;
    int beeps_ = 0;
    std::vector<RelayRecord> relays_;
    std::vector<int> seen_ = std::vector<int>(256, 0);
    bool silent_ = false;
    int nakCount_ = 0;
    std::uint8_t nakCode_ = 0;
    int busyCount_ = 0;
    int loseCount_ = 0;
    std::optional<std::uint8_t> loseCode_;
    bool plainKeySetAck_ = false;
    bool macOnlyReplies_ = false;
    bool forgeNak_ = false;
    bool tamper_ = false;
    bool powerLost_ = false;
    bool statusChanged_ = false;
    std::vector<std::uint8_t> inputs_ = std::vector<std::uint8_t>(1, 0);
    bool inputsChanged_ = false;
    Bytes identity_;
    FileBehaviour fileBehaviour_;
    Bytes file_;                // the file coming in
    std::uint32_t fileIn_ = 0;  // how much of it
    Bytes receivedFile_;
    std::uint8_t fileType_ = 0;
    int finishingLeft_ = 0;
};

} // namespace parking::osdp
