// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>
#include <QString>

namespace ravix {

// Replaces the file at path with data in one step: readers see the old content or the new,
// never a part, even when the process dies while writing. A link at the name is replaced,
// not followed; the file gets mode 0644. On failure (a full disk included) the old file
// stays and error (when given) receives the reason.
RAVIXCORE_EXPORT bool writeFileAtomically(const QString &path, const QByteArray &data,
                                          QString *error = nullptr);

} // namespace ravix
