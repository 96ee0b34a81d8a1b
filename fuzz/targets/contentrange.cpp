// SPDX-License-Identifier: MIT
// The downloader's reading of a Content-Range value: arbitrary text must not crash it or take
// long, numbers it accepts are not negative, and the canonical form of what it read reads back
// to the same numbers.
#include "fuzzsupport.h"

#include <ravixcore/httpfileloader/httpfileloader_p.h>

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 8192)
        return 0;
    qint64 start = -1, total = -1;
    if (!ravix::parseContentRange(ravixfuzz::bytes(data, size), &start, &total))
        return 0;
    RAVIX_FUZZ_CHECK(start >= 0 && total >= 0);
    qint64 start2 = -1, total2 = -1;
    const QByteArray canonical = QByteArrayLiteral("bytes ") + QByteArray::number(start) + '-' +
                                 QByteArray::number(start) + '/' + QByteArray::number(total);
    RAVIX_FUZZ_CHECK(ravix::parseContentRange(canonical, &start2, &total2));
    RAVIX_FUZZ_CHECK(start2 == start && total2 == total);
    return 0;
}
