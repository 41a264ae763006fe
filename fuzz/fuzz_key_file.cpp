// The readers' key file: whatever a person or a disk leaves in it is read
// or refused, and what the program writes reads back the same.
#include "FuzzSupport.h"
#include "ReaderKeyFile.h"

using namespace parking::fuzz;
using namespace parking::osdp;

namespace {

bool sameKeys(const std::vector<StoredKey>& a, const std::vector<StoredKey>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].device != b[i].device || a[i].address != b[i].address || a[i].key != b[i].key)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = bytes(data, size);
    const auto parsed = ReaderKeyFile::parse(input, QStringLiteral("claves"));
    if (parsed) {
        const auto again = ReaderKeyFile::parse(ReaderKeyFile::format(*parsed), QStringLiteral("claves"));
        require(again.has_value(), "what is written reads back");
        require(sameKeys(*again, *parsed), "what is written reads back the same");
    } else {
        // A refusal names the file and the line, never the key.
        const QString fault = parsed.error();
        require(fault.contains(QStringLiteral("claves")), "the refusal names the file");
    }
    // Any device name: one the file can keep reads back as written.
    const QString device = text(data, std::min<std::size_t>(size, 40));
    if (ReaderKeyFile::storable(device)) {
        const std::vector<StoredKey> one{{device, 7, Block{}}};
        const auto back = ReaderKeyFile::parse(ReaderKeyFile::format(one), QStringLiteral("claves"));
        require(back.has_value() && sameKeys(*back, one), "a storable device name reads back");
    }
    return 0;
}
