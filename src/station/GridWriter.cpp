#include "GridWriter.h"

namespace parking {

void GridWriter::prepare()
{
    grid_.prepare();
    outputs_.gridReset(grid_.rowCount());
}

void GridWriter::add(StationRole station, const QString& text, std::int32_t subscriber, bool red)
{
    const AccessRow access{subscriber, text, clock_.now().time(), station};
    const AccessGrid::Written written = grid_.write(access, red);
    if (written.wrapped)
        outputs_.gridReset(grid_.rowCount());
    outputs_.gridRowWritten(written.row, access, red);
}

} // namespace parking
