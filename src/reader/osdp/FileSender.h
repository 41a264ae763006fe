#pragma once
// One file sent to a reader with osdp_FILETRANSFER, as a next-state
// function of the reader's answers (osdp_FTSTAT): the fragment to send
// next, how long the reader asked to be left before it, and when it is
// over. Fragments fit the reader's receive size with room for the packet,
// the Secure Channel's block, MAC and padding, and shrink to the longest
// the reader asks for; once the whole file is in, empty fragments go on
// while the reader says it is finishing, until it says the file is
// processed (or that it restarts to apply it). A refusal of any kind ends
// it with the reader's reason. Lost answers are the caller's: it sends
// next() again, which is the same fragment until one is answered.
#include "OsdpBusEvents.h"

#include <QString>

#include <chrono>
#include <cstdint>

namespace parking::osdp {

class FileSender {
public:
    // The receive size a reader that says none is taken to have.
    static constexpr int DefaultReceiveSize = 128;
    // Packet header, security block, command code, MAC, CRC, padding to a
    // whole block, and the command's own 11 bytes ahead of the fragment.
    static constexpr int Overhead = 5 + 3 + 1 + 4 + 2 + 16 + 11;
    static constexpr int LongestFragment = 1024;
    static constexpr int ShortestFragment = 16;
    // "Finishing" answers taken before the reader counts as stuck.
    static constexpr int FinishingLimit = 600;

    // `receiveSize`: the reader's, from its capabilities (0: not said).
    FileSender(std::uint8_t type, Bytes file, int receiveSize);

    // The fragment to send now (empty once the whole file is in).
    FileTransferCommand next() const;

    struct Step {
        enum class Kind { Send, Done, Refused };
        Kind kind = Kind::Send;
        std::chrono::milliseconds wait{0}; // before next()
        bool restarting = false;           // Done: the reader restarts to apply it
        QString reason;                    // Refused: the reader's, in words
    };
    // The reader's answer to the last next().
    Step answered(const FileTransferStatusReply& status);
    Step refused(const FileTransferRefused& refusal);

    std::uint32_t sent() const { return offset_; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(file_.size()); }
    int fragmentSize() const { return fragment_; }

private:
    std::uint8_t type_;
    Bytes file_;
    std::uint32_t offset_ = 0;
    int fragment_;
    int finishing_ = 0;
};

// A status below 0 in words (abort, rejected, ...).
QString fileRefusalReason(std::int16_t status);

} // namespace parking::osdp
