#pragma once
// What a bus says happened to one of its readers, as typed facts. The bus
// decides nothing about words: the transport turns the facts into the
// reader's log lines (logLine() below) and into what the station hears.
#include "OsdpMessages.h"

#include <QString>

#include <chrono>
#include <variant>

namespace parking::osdp {

using TimePoint = std::chrono::steady_clock::time_point;

// The first reply with every check passed after being offline.
struct ReaderOnline {
    Identity identity;
    Capabilities capabilities;
    bool secured = false; // on the Secure Channel
};
struct ReaderOffline {};
// A fresh handshake while online: the reader lost what it was told.
struct ReaderRestarted {
    Capabilities capabilities;
};

struct CardBitsRead {
    int bits = 0;
    Bytes data; // left-justified
};
struct CardTrackRead {
    QString text;
};
struct KeysPressed {
    QString digits;
};

// What became of a relay pulse.
enum class RelayAnswer { Ack, Nak, NoAnswer, TooLong };
struct RelayAnswered {
    RelayAnswer answer = RelayAnswer::Ack;
    std::uint8_t nak = 0; // Nak
};

// The first time and at every change.
struct LocalStatusChanged {
    LocalStatus status;
};
struct InputsChanged {
    Bytes states;
};
// osdp_COM: where the reader answers from now on.
struct AddressConfirmed {
    std::uint8_t address = 0;
    std::uint32_t baud = 0;
};

// How the handshake and the channel went, for the log.
struct NoStoredKey {};     // sc=on and no key: it cannot start
struct ChannelOff {};      // sc=off: the line goes in the clear
struct ChannelBroken {};   // a reply's MAC did not check
struct NoSecureChannel {}; // the reader says it has none, under sc=on
struct StoredKeyNotAnswered {}; // its cryptogram is not the stored key's
struct KeyRefused {
    std::optional<std::uint8_t> nak; // the NAK's error code, when it said one
};
// It answers only the install key while a key is stored.
struct InstallKeyOnly {};
struct NewKeyNotStored {};
struct NewKeyGiven {};
struct NewKeyRefused {
    std::uint8_t nak = 0;
};
// A command longer than the reader's receive size: not sent.
struct CommandTooLong {
    std::uint8_t code = 0;
    std::size_t size = 0;
    int limit = 0;
};
// A file's fragment (osdp_FILETRANSFER): how the reader took it
// (osdp_FTSTAT), that it refused it with osdp_NAK, or that no answer came
// after its repeats (the reader then starts over with a handshake).
struct FileTransferAnswered {
    FileTransferStatusReply status;
};
struct FileTransferRefused {
    std::uint8_t nak = 0;
    int tooLongFor = 0; // not sent: longer than the reader's receive size (this)
};
struct FileTransferUnanswered {};
// osdp_PDID, asked for while online.
struct IdentityRead {
    Identity identity;
};
// Something went wrong inside the program on the line's thread; the line
// is opened again and its readers start over.
struct LineFault {
    QString what;
};

using BusFact = std::variant<ReaderOnline, ReaderOffline, ReaderRestarted, CardBitsRead, CardTrackRead, KeysPressed,
                             RelayAnswered, LocalStatusChanged, InputsChanged, AddressConfirmed, NoStoredKey, ChannelOff,
                             ChannelBroken, NoSecureChannel, StoredKeyNotAnswered, KeyRefused, InstallKeyOnly,
                             NewKeyNotStored, NewKeyGiven, NewKeyRefused, CommandTooLong, FileTransferAnswered,
                             FileTransferRefused, FileTransferUnanswered, IdentityRead, LineFault>;

struct BusEvent {
    int reader = 0;
    TimePoint at{};
    BusFact fact;

    template <typename T>
    const T* as() const
    {
        return std::get_if<T>(&fact);
    }
};

// The reader log's line for a fact; nothing for reads and going offline,
// which the station says in its own words, and for tamper and power, whose
// line depends on what was known before (the transport says those).
std::optional<QString> logLine(const BusFact& fact);

} // namespace parking::osdp
