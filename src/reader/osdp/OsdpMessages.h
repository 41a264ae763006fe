#pragma once
// What the controller and a reader say to each other, as typed values: the
// commands and replies this program uses, their fields named and ordered as
// the OSDP standard's tables give them, turned into a packet's code and data
// and back here and nowhere else. Numbers of more than one byte go least
// significant byte first; times are in tenths of a second unless named
// otherwise.
//
// Decoding is as lenient as readers in the field need (a longer reply than
// the table's is taken, a count longer than its data is cut to the data)
// and never reads past what arrived.
#include "OsdpCodec.h"

#include <QString>

#include <variant>

namespace parking::osdp {

// ---- commands ------------------------------------------------------------------

struct PollCommand {};
struct IdRequest {};           // osdp_ID, the standard identity report
struct CapabilitiesRequest {}; // osdp_CAP
struct LocalStatusRequest {};  // osdp_LSTAT
struct InputStatusRequest {};  // osdp_ISTAT

enum class OutputControl : std::uint8_t {
    Nop = 0,
    PermanentOffNow = 1,        // the timed state cancelled
    PermanentOnNow = 2,
    PermanentOffAfterTimer = 3, // the timed state runs out first
    PermanentOnAfterTimer = 4,
    TemporaryOn = 5,            // on for the timer, then the permanent state again
    TemporaryOff = 6,
};

// osdp_OUT, one output.
struct OutputCommand {
    std::uint8_t output = 0;
    OutputControl control = OutputControl::Nop;
    std::uint16_t timer = 0;
};

enum class LedColour : std::uint8_t { Black = 0, Red = 1, Green = 2, Amber = 3, Blue = 4, Magenta = 5, Cyan = 6, White = 7 };
enum class TemporaryLedControl : std::uint8_t { Nop = 0, Cancel = 1, Set = 2 };
enum class PermanentLedControl : std::uint8_t { Nop = 0, Set = 1 };

struct TemporaryLed {
    TemporaryLedControl control = TemporaryLedControl::Nop;
    std::uint8_t onTime = 0;
    std::uint8_t offTime = 0;
    LedColour onColour = LedColour::Black;
    LedColour offColour = LedColour::Black;
    std::uint16_t timer = 0;
};

struct PermanentLed {
    PermanentLedControl control = PermanentLedControl::Nop;
    std::uint8_t onTime = 0;
    std::uint8_t offTime = 0;
    LedColour onColour = LedColour::Black;
    LedColour offColour = LedColour::Black;
};

// osdp_LED, one LED: 14 bytes.
struct LedCommand {
    std::uint8_t reader = 0;
    std::uint8_t led = 0;
    TemporaryLed temporary;
    PermanentLed permanent;
};

enum class BuzzerTone : std::uint8_t { None = 0, Off = 1, Default = 2 };

// osdp_BUZ.
struct BuzzerCommand {
    std::uint8_t reader = 0;
    BuzzerTone tone = BuzzerTone::Off;
    std::uint8_t onTime = 0;
    std::uint8_t offTime = 0;
    std::uint8_t count = 0; // 0: until told otherwise
};

enum class TextControl : std::uint8_t { PermanentNoWrap = 1, PermanentWrap = 2, TemporaryNoWrap = 3, TemporaryWrap = 4 };

// osdp_TEXT: characters at a row and column, both counted from 1.
struct TextCommand {
    std::uint8_t reader = 0;
    TextControl control = TextControl::PermanentNoWrap;
    std::uint8_t temporarySeconds = 0;
    std::uint8_t row = 1;
    std::uint8_t column = 1;
    Bytes text; // Latin-1, at most 255 characters
};

// osdp_COMSET: the reader's address and speed from its reply on.
struct ComSetCommand {
    std::uint8_t address = 0;
    std::uint32_t baud = 0;
};

// osdp_KEYSET of a Secure Channel base key.
struct KeySetCommand {
    Block key{};
};

// osdp_ACURXSIZE: the longest reply the controller takes.
struct ReceiveSizeCommand {
    std::uint16_t size = 0;
};

// osdp_FILETRANSFER: one fragment of a file the reader knows what to do
// with (type 1: its firmware, say).
struct FileTransferCommand {
    std::uint8_t type = 1;
    std::uint32_t totalSize = 0;
    std::uint32_t offset = 0;
    Bytes fragment;
};

// The handshake's two commands; each names the key in its security block.
struct ChallengeCommand {
    std::uint8_t keySelector = 0;
    Random controllerRandom{};
};
struct ServerCryptogramCommand {
    std::uint8_t keySelector = 0;
    Block cryptogram{};
};

using Command = std::variant<PollCommand, IdRequest, CapabilitiesRequest, LocalStatusRequest, InputStatusRequest,
                             OutputCommand, LedCommand, BuzzerCommand, TextCommand, ComSetCommand, KeySetCommand,
                             ReceiveSizeCommand, FileTransferCommand, ChallengeCommand, ServerCryptogramCommand>;

// A message's part of a packet: its code, its data and, for the
// handshake's, its security block.
struct MessageFields {
    std::uint8_t code = 0;
    Bytes data;
    std::optional<std::uint8_t> securityType;
    Bytes securityData;
};

MessageFields encodeCommand(const Command& command);
// The bytes a command's packet takes on the wire (mark byte aside),
// `sealed` under the Secure Channel (its data padded and encrypted).
std::size_t packetSize(bool sealed, const MessageFields& fields);
std::uint8_t codeOf(const Command& command);

enum class MessageFault {
    UnknownCode, // not a message this program knows
    TooShort,    // shorter than its table
    BadValue,    // a field out of its range
};

// A command as a reader reads it (the emulated reader's side).
Result<Command, MessageFault> decodeCommand(const Packet& packet);

// ---- replies ---------------------------------------------------------------------

struct AckReply {};
struct BusyReply {};

struct NakReply {
    std::uint8_t error = 0; // 0 when the reply carries none
};

// osdp_PDID.
struct Identity {
    std::uint32_t vendor = 0; // three bytes
    std::uint8_t model = 0;
    std::uint8_t version = 0;
    std::uint32_t serial = 0;
    std::uint32_t firmware = 0; // major << 16 | minor << 8 | build
};

// One record of osdp_PDCAP.
struct Capability {
    std::uint8_t function = 0;
    std::uint8_t compliance = 0;
    std::uint8_t items = 0;
};

namespace capability {
constexpr std::uint8_t Inputs = 1;
constexpr std::uint8_t Outputs = 2;
constexpr std::uint8_t CardFormat = 3;
constexpr std::uint8_t Leds = 4;
constexpr std::uint8_t Buzzer = 5;
constexpr std::uint8_t Text = 6;
constexpr std::uint8_t SecureChannel = 9;
constexpr std::uint8_t ReceiveSize = 10; // compliance the low byte, items the high one
} // namespace capability

struct CapabilitiesReply {
    std::vector<Capability> records;
};

// What the program makes of a capabilities report.
struct Capabilities {
    bool output = false;
    bool led = false;
    bool buzzer = false;
    bool text = false;
    int inputs = 0;                    // contact status monitoring
    std::optional<bool> secureChannel; // when the reader says
    int receiveSize = 0;               // 0: not said
};
Capabilities summarise(const CapabilitiesReply& reply);

// osdp_LSTATR.
struct LocalStatus {
    bool tamper = false;
    bool powerLost = false;
    bool operator==(const LocalStatus&) const = default;
};

// osdp_ISTATR: one byte an input.
struct InputStatusReply {
    Bytes states;
};

// osdp_RAW: the bits left-justified in `data`.
struct RawCardReply {
    std::uint8_t reader = 0;
    std::uint8_t format = 0;
    std::uint16_t bits = 0;
    Bytes data;
};

// osdp_FMT.
struct FormattedCardReply {
    std::uint8_t reader = 0;
    std::uint8_t direction = 0;
    QString text;
};

// osdp_KEYPAD.
struct KeypadReply {
    std::uint8_t reader = 0;
    QString digits;
};

// osdp_COM: the address and speed the reader now answers at.
struct ComReply {
    std::uint8_t address = 0;
    std::uint32_t baud = 0;
};

// The handshake's two replies.
struct ClientCryptogramReply {
    std::uint8_t keySelector = 0;
    std::array<std::uint8_t, 8> clientId{};
    Random readerRandom{};
    Block cryptogram{};
};
struct InitialRmacReply {
    bool cryptogramAccepted = true; // the security block's 0x01; 0xFF: refused
    Block rmac{};
};

// osdp_FTSTAT: how a file transfer goes on.
struct FileTransferStatusReply {
    std::uint8_t action = 0;   // bit 0: may interleave, bit 1: leave the channel, bit 2: poll replies held
    std::uint16_t delayMs = 0; // before the next fragment
    std::int16_t status = 0;   // 0 go on, 1 processed, 2 rebooting, 3 finishing; below 0 refused
    std::uint16_t updateMax = 0; // the longest fragment it wants from now on; 0: as before
};

using Reply = std::variant<AckReply, NakReply, BusyReply, Identity, CapabilitiesReply, LocalStatus, InputStatusReply,
                           RawCardReply, FormattedCardReply, KeypadReply, ComReply, ClientCryptogramReply,
                           InitialRmacReply, FileTransferStatusReply>;

Result<Reply, MessageFault> decodeReply(const Packet& packet);
// A reply's fields (the emulated reader's side).
MessageFields encodeReply(const Reply& reply);

} // namespace parking::osdp
