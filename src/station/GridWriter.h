#pragma once
// The access grid and the events that show it: a row per passage at the
// time it happened, red or black as the caller says.
#include "AccessGrid.h"
#include "Clock.h"
#include "StationEvents.h"

#include <cstdint>

namespace parking {

class GridWriter {
public:
    GridWriter(const Clock& clock, StationEvents& outputs) : clock_(clock), outputs_(outputs) {}

    // The start-up preparation: blank rows, the next row the first.
    void prepare();
    void add(StationRole station, const QString& text, std::int32_t subscriber, bool red);
    const AccessGrid& grid() const { return grid_; }

private:
    const Clock& clock_;
    StationEvents& outputs_;
    AccessGrid grid_;
};

} // namespace parking
