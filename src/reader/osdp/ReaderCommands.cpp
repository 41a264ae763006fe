#include "ReaderCommands.h"

#include <algorithm>

namespace parking::osdp {

namespace {

bool isRelay(const Command& c)
{
    return std::holds_alternative<OutputCommand>(c);
}

} // namespace

void ReaderCommands::advanceSequence()
{
    sequence_ = sequence_ == 3 ? 1 : static_cast<std::uint8_t>(sequence_ + 1);
}

void ReaderCommands::restart()
{
    sequence_ = 0;
    repeat_.reset();
}

void ReaderCommands::add(Command command)
{
    if (isRelay(command)) {
        // A barrier does not wait behind display texts, nor for a poll.
        queue_.insert(std::find_if_not(queue_.begin(), queue_.end(), isRelay), std::move(command));
        pollFirst_ = false;
        return;
    }
    queue_.push_back(std::move(command));
}

void ReaderCommands::online(TimePoint nextPoll, const Capabilities& capabilities)
{
    nextPoll_ = nextPoll;
    pollFirst_ = false;
    queue_.insert(std::find_if_not(queue_.begin(), queue_.end(), isRelay), LocalStatusRequest{});
    if (capabilities.inputs > 0)
        queue_.push_back(InputStatusRequest{});
    if (!receiveSizeRefused_)
        queue_.push_back(ReceiveSizeCommand{static_cast<std::uint16_t>(MaxPacketSize)});
}

void ReaderCommands::clear()
{
    queue_.clear();
    repeat_.reset();
}

std::optional<Command> ReaderCommands::takeQueued(bool pollDue)
{
    if (!queue_.empty() && !(pollFirst_ && pollDue)) {
        Command c = std::move(queue_.front());
        queue_.pop_front();
        pollFirst_ = true;
        return c;
    }
    pollFirst_ = false;
    return std::nullopt;
}

void ReaderCommands::repeatLater(SentCommand sent, TimePoint at)
{
    repeat_ = std::move(sent);
    repeatAt_ = at;
}

SentCommand ReaderCommands::takeRepeat()
{
    SentCommand sent = std::move(*repeat_);
    repeat_.reset();
    return sent;
}

bool ReaderCommands::firstTooLong()
{
    const bool first = !tooLongSaid_;
    tooLongSaid_ = true;
    return first;
}

} // namespace parking::osdp
