// The port text of an OSDP reader, as installers write it.
#include "FuzzSupport.h"
#include "PortText.h"

using namespace parking::fuzz;
using namespace parking::osdp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto parsed = parsePortText(text(data, size));
    if (parsed) {
        const PortText* port = &*parsed;
        require(port->address <= 126, "address 0..126");
        require(port->rows > 0 && port->columns > 0 && port->rows * port->columns <= 100000, "a display of some size");
        require(!port->device.isEmpty(), "a device");
        require(!port->tcp() || port->tcpPort > 0, "a TCP port");
    } else {
        require(!parsed.error().isEmpty(), "a refusal says why");
    }
    return 0;
}
