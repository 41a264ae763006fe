#include "AccessGrid.h"

namespace parking {

void AccessGrid::prepare()
{
    FilaAccesos_ = 0;
    rows_.assign(InitialRows, Cell{});
}

int AccessGrid::write(const AccessRow& access, bool red, bool* wrapped)
{
    *wrapped = false;
    if (FilaAccesos_ >= Wrap) {
        rows_.assign(Wrap, Cell{});
        FilaAccesos_ = 0;
        *wrapped = true;
    }
    if (rows_.size() <= static_cast<std::size_t>(FilaAccesos_))
        rows_.resize(static_cast<std::size_t>(FilaAccesos_) + 1);
    const int row = FilaAccesos_;
    rows_[static_cast<std::size_t>(row)] = Cell{access, red, true};
    ++FilaAccesos_;
    return row;
}

} // namespace parking
