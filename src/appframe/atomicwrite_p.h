#pragma once

#include <QByteArray>
#include <QString>

namespace ravix {

// Replaces the file at path with data in one step: readers see the old content or the new,
// never a part, even when the process dies while writing. On failure the old file stays and
// error (when given) receives the reason.
bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error = nullptr);

} // namespace ravix
