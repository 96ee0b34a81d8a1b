// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QDateTime>
#include <QString>

/// Seconds east of UTC for the present moment (daylight saving included).
RAVIXCORE_EXPORT int zip_currentUtcOffset();

/// Moves a file time to the local wall clock: the fields of the result are what an archive stores.
RAVIXCORE_EXPORT QDateTime zip_fromFileTimestamp(const QDateTime &dt);

/// Sets a file's last-write time; the date and time fields of \a dt are local wall-clock time,
/// turned back to UTC with the present offset, as zip_fromFileTimestamp made them. An empty
/// name succeeds at once.
RAVIXCORE_EXPORT bool zip_setFileTimestamp(const QString &fileName, const QDateTime &dt);
