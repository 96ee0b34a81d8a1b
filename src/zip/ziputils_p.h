// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>

/// The UTC moment of an archive's wall-clock fields, turned back with the present offset as
/// zip_fromFileTimestamp made them; invalid when the fields are.
QDateTime zip_wallClockToUtc(const QDateTime &dt);
/// The same with the offset given, for callers that convert many times at once.
QDateTime zip_wallClockToUtc(const QDateTime &dt, int utcOffset);
