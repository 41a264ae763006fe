#pragma once
// The answer of the rights check: 0 lets the subscriber in, anything else
// says why not.
#include <cstdint>

namespace parking {

enum AccessResult : std::uint8_t {
    AccessGranted = 0,
    SubscriberUnknown = 1,
    OutsideTimetable = 2,
    ReceiptsUnpaid = 3,
    FeeNotCurrent = 4,
    SubscriberBlocked = 5,
    OutsideFeeHours = 6,
    EntryTooSoon = 7,
};

} // namespace parking
