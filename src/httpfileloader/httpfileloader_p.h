// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>
#include <QtGlobal>

namespace ravix {

/// The waits of HttpFileLoader, in milliseconds. Internal: only tests change them, to run
/// timeouts and retries in moments instead of minutes. Loaders read them when they start a
/// timer, so a change affects running loaders from their next wait on.
struct HttpFileLoaderTimings
{
    int replyTimeoutMs = 180000;    ///< a reply that takes longer counts as failed
    int retryDelayMs = 10000;       ///< pause before repeating a failed block
    int timeoutRetryDelayMs = 2000; ///< pause before repeating a block after a timeout
};

RAVIXCORE_EXPORT HttpFileLoaderTimings httpFileLoaderTimings();
/// Sets the process-wide waits; pass a default-constructed value to restore the defaults.
RAVIXCORE_EXPORT void setHttpFileLoaderTimings(const HttpFileLoaderTimings &timings);

/// Reads a Content-Range value such as "bytes 100-199/1000" into the block's first byte, the
/// total size and, when end is given, the block's last byte. False when the text does not have
/// that form or a number is not a decimal that fits; the outputs are then unspecified.
/// Internal, exported for the fuzz target.
RAVIXCORE_EXPORT bool parseContentRange(const QByteArray &value, qint64 *start, qint64 *total,
                                        qint64 *end = nullptr);

} // namespace ravix
