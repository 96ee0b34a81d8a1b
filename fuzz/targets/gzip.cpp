// SPDX-License-Identifier: MIT
// GzipStreamWrapper: gzuncompress of arbitrary bytes, and gzcompress followed by gzuncompress,
// which must give the input back.
#include "fuzzsupport.h"

#include <ravixcore/sys/gzipstreamwrapper.h>

using ravix::GzipStreamWrapper;

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const QByteArray input = ravixfuzz::bytes(data, size);
    GzipStreamWrapper::gzuncompress(input);
    const QByteArray packed = GzipStreamWrapper::gzcompress(input);
    RAVIX_FUZZ_CHECK(GzipStreamWrapper::gzuncompress(packed) == input || input.isEmpty());
    return 0;
}
