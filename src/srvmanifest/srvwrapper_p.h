// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

namespace ravix {

/// The restart pauses of SrvWrapper, in milliseconds. Internal: only tests change them.
/// A run shorter than quickRunMs counts as a quick exit; the first restart after one is
/// immediate, each further one in a row waits twice as long as the last, from firstDelayMs
/// up to maxDelayMs. A run of normal length starts the count again.
struct SrvWrapperTimings
{
    int quickRunMs = 5000;
    int firstDelayMs = 1000;
    int maxDelayMs = 60000;
};

RAVIXCORE_EXPORT SrvWrapperTimings srvWrapperTimings();
/// Sets the process-wide pauses; a default-constructed value restores the defaults.
RAVIXCORE_EXPORT void setSrvWrapperTimings(const SrvWrapperTimings &timings);

} // namespace ravix
