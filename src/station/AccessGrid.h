#pragma once
// The access grid's contents: a fixed number of rows written in turn. It
// starts with 500 blank rows; once 23 rows have been written it empties to
// 23 blank rows and writes from the top again.
#include "StationEvents.h"

#include <vector>

namespace parking {

class AccessGrid {
public:
    static constexpr int Wrap = 23;
    static constexpr int InitialRows = 500;

    struct Cell {
        AccessRow access;
        bool red = false;
        bool written = false;
    };

    struct Written {
        int row = 0;          // the row written
        bool wrapped = false; // the grid was emptied first
    };

    // The start-up preparation: 500 blank rows, next row 0.
    void prepare();
    Written write(const AccessRow& access, bool red);

    // The row the next write goes to (before any wrap).
    int nextRow() const { return nextRow_; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    const Cell& row(int i) const { return rows_.at(static_cast<std::size_t>(i)); }

private:
    std::vector<Cell> rows_;
    int nextRow_ = 0;
};

} // namespace parking
