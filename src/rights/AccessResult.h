#pragma once
// The answer of the rights check: Granted (0) lets the subscriber in,
// anything else says why not. The numbers are those the operator's
// records and the status page have always shown.
#include <cstdint>

namespace parking {

enum class AccessResult : std::uint8_t {
    Granted = 0,
    SubscriberUnknown = 1,
    OutsideTimetable = 2,
    ReceiptsUnpaid = 3,
    FeeNotCurrent = 4,
    SubscriberBlocked = 5,
    OutsideFeeHours = 6,
    EntryTooSoon = 7,
};

} // namespace parking
