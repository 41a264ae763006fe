// The script parser: timed reader events and operator actions.
#include "FuzzSupport.h"
#include "ScriptPlayer.h"

using namespace parking;
using namespace parking::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = text(data, size);
    const auto parsed = parseScript(input);
    if (parsed) {
        require(static_cast<qsizetype>(parsed->size()) <= input.count(QLatin1Char('\n')) + 1, "at most one item a line");
    } else {
        require(!parsed.error().message.isEmpty(), "a refusal says why");
    }
    return 0;
}
