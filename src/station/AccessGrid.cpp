#include "AccessGrid.h"

namespace parking {

void AccessGrid::prepare()
{
    nextRow_ = 0;
    rows_.assign(InitialRows, Cell{});
}

AccessGrid::Written AccessGrid::write(const AccessRow& access, bool red)
{
    bool wrapped = false;
    if (nextRow_ >= Wrap) {
        rows_.assign(Wrap, Cell{});
        nextRow_ = 0;
        wrapped = true;
    }
    if (rows_.size() <= static_cast<std::size_t>(nextRow_))
        rows_.resize(static_cast<std::size_t>(nextRow_) + 1);
    const int row = nextRow_;
    rows_[static_cast<std::size_t>(row)] = Cell{access, red, true};
    ++nextRow_;
    return {row, wrapped};
}

} // namespace parking
