// The .cdb reader on arbitrary file contents: it must never crash, and what
// it accepts must survive being written and read again.
#include "database/cdbfile.h"

#include <cstdint>
#include <cstdlib>

using namespace tessary;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const cdb::ReadResult result = cdb::read(bytes);
    if (result.ok() && cdb::encodable(result.entries)) {
        const cdb::ReadResult again = cdb::read(cdb::encode(result.entries));
        if (!again.ok() || again.entries.size() != result.entries.size())
            std::abort();
    }
    return 0;
}
