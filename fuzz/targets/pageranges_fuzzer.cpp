// Typed page ranges through parsePageRanges; every range it gives is a real one.
#include "FuzzSupport.h"

#include "jobs/PageRanges.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<qv::PageRange> ranges =
        qv::parsePageRanges(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const qv::PageRange& range : ranges) {
        if (range.lower < 1 || range.upper < range.lower)
            __builtin_trap();
    }
    return 0;
}
